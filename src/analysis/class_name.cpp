/*
 * class_name.cpp --
 *
 *	The legend texts of the colour classes.
 */

#include "analysis/class_name.h"

#include "analysis/line.h"

const int legend_classes[LEGEND_CLASSES] = {CLS_DATA, CLS_NODATA, CLS_DUPACK,
                                            CLS_RETRANS, CLS_LOST, CLS_OUTORDER};

const char *class_name(int cls)
{
    static const char *const names[7] = {
        "data",                            /* CLS_DATA, blue */
        "no payload",                      /* CLS_NODATA, red */
        "duplicate ACK",                   /* CLS_DUPACK, green */
        "retransmission",                  /* CLS_RETRANS, orange */
        "lost / no copy in peer capture",  /* CLS_LOST, purple */
        "lost / no copy in peer capture",  /* CLS_UNUSED, purple as 4 */
        "out of order",                    /* CLS_OUTORDER, brown */
    };
    if (cls < 0 || cls >= 7)
        return "unknown";
    return names[cls];
}
