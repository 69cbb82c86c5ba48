/*
 * bench-graph.cpp --
 *
 *	The graph benchmark: loads one capture as wirepaint does, builds each
 *	graph of the direction that sent more payload once, then redraws it
 *	into a 1000x600 image (column reduction, cairo drawing, the image
 *	the window shows) over the whole connection and over a tenth of it,
 *	and prints the build time and the redraw medians in milliseconds.
 *	First it prints what the loaded connection holds per segment, by
 *	structure, and the process's memory after the load and at its peak.
 *
 *	    bench_graph CAPTURE [ROUNDS [TYPE]]   (15 rounds by default; 0: the
 *	                                           memory only, no graph;
 *	                                           TYPE: that graph only)
 *
 *	Beside each build's time it prints the CPU time the build took, all
 *	threads together.
 */

#include <cairo.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analysis/events.h"
#include "analysis/line.h"
#include "graph/series.h"
#include "load/loader.h"
#include "render/graph_render.h"
#include "capture/filemap.h"
#include "trace/scratch.h"
#include "trace/trace.h"

namespace {

double now_ms()
{
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double, std::milli>(clock::now().time_since_epoch()).count();
}

/* CPU time of the process (all threads, user and system), ms. */
double cpu_ms()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double median_redraw(const graph_data &g, const graph_view &v, int rounds)
{
    std::vector<double> ms;
    for (int i = 0; i < rounds; i++) {
        double t0 = now_ms();
        cairo_surface_t *s = graph_image(g, v);
        ms.push_back(now_ms() - t0);
        cairo_surface_destroy(s);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

/* A "VmRSS:"-style line of /proc/self/status, in KiB; 0 when missing. */
double status_kib(const char *field)
{
    FILE *f = std::fopen("/proc/self/status", "r");
    char line[256];
    double kib = 0;
    size_t n = std::strlen(field);
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, field, n) == 0)
            kib = std::atof(line + n);
    if (f != nullptr)
        std::fclose(f);
    return kib;
}

/* The bytes per segment of each structure the load keeps, of the
 * scratch blocks the load's passes held at once at most (the analysis's
 * tables, the line list, the events), and the process's resident memory
 * per segment after the load and at its peak. */
void print_memory()
{
    const trace_array &t = g_trace.main;
    double n = t.count > 0 ? t.count : 1;
    double packet = t.map != nullptr ? sizeof(uint32_t) : t.copy_len + COPY_SLOT_HEAD;
    double events = (g_events.seg.size() * sizeof(seg_event_bits) +
                     g_events.refs.size() * sizeof(seg_event_refs)) / n;
    double bad_opt = t.bad_opt_cap * sizeof(int32_t) / n;
    std::printf("bytes per segment: records %zu, packet bytes %.0f (%s), lines %zu, events %.0f, "
                "list of malformed options %.2f; "
                "scratch blocks at once %.1f; resident after the load %.1f, peak %.1f\n",
                sizeof(seg_record), packet, t.map != nullptr ? "offset in the mapped file" : "copies",
                sizeof(line_record), events, bad_opt, static_cast<double>(scratch_peak_bytes()) / n,
                status_kib("VmRSS:") * 1024 / n, status_kib("VmHWM:") * 1024 / n);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s capture [rounds]\n", argv[0]);
        return 1;
    }
    int rounds = argc > 2 ? std::max(0, std::atoi(argv[2])) : 15;
    scratch_peak_reset();
    load_traces(1, argv + 1, 1);
    print_memory();
    if (rounds == 0)
        return 0;
    int dir = default_graph_dir();
    std::printf("wirepaint graph benchmark: %d segments, direction %s, 1000x600 image, "
                "medians of %d redraws\n",
                g_trace.main.count, dir == 1 ? "LR" : "RL", rounds);
    graph_type only = argc > 3 ? graph_type_named(argv[3]) : GRAPH_TYPES;
    for (int t = 0; t < GRAPH_TYPES; t++) {
        if (only != GRAPH_TYPES && t != only)
            continue;
        double b0 = now_ms(), c0 = cpu_ms();
        graph_data g = build_graph(static_cast<graph_type>(t), dir, graph_inputs{nullptr, 0});
        double built = now_ms() - b0, cpu = cpu_ms() - c0;
        size_t points = 0;
        for (const graph_series &s : g.series)
            points += s.pts.size();
        graph_view all = graph_full_view(g, 1000, 600);
        graph_view tenth = all;
        double mid = (all.t0 + all.t1) / 2, span = (all.t1 - all.t0) / 20;
        tenth.t0 = mid - span;
        tenth.t1 = mid + span;
        std::printf("  %-8s %9zu points  built in %7.1f ms (cpu %7.1f)  redraw: whole %6.2f ms, "
                    "a tenth %6.2f ms\n",
                    graph_type_name(static_cast<graph_type>(t)), points, built, cpu,
                    median_redraw(g, all, rounds), median_redraw(g, tenth, rounds));
    }
    return 0;
}
