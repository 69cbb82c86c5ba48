/*
 * ui_state.cpp --
 *
 *	The one instance of the user interface state, its reset, and the small
 *	helpers every part of the interface uses to talk to the interpreter:
 *	setting published variables, evaluating the script's procedures and
 *	ringing the limit bell. These few calls are where every publication
 *	goes out, so they also choose its sink: the interpreter, or the
 *	display list of a picture being made.
 */

#include "ui/ui_state.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include <X11/Xlib.h>
#include <tk.h>

#include "render/display_list.h"
#include "trace/trace.h"

ui_state g_ui;

void ui_state_reset()
{
    std::memset(&g_ui, 0, sizeof g_ui);
    g_ui.delay_unit = 99999.0f;
    g_ui.first_visible = -1;
    g_ui.last_visible = -1;
}

int ui_view_ready()
{
    return g_trace.loaded && g_ui.view_ready;
}

void ring_limit_bell()
{
    g_ui.bell_count++;
    if (g_ui.main_window == nullptr)
        return;
    XBell(Tk_Display(g_ui.main_window), 0);
}

void ui_eval(const char *script)
{
    if (g_ui.picture != nullptr) {
        dl_eval(g_ui.picture, script);
        return;
    }
    if (g_ui.interp == nullptr)
        return;
    Tcl_Eval(g_ui.interp, script);
    Tcl_ResetResult(g_ui.interp);
}

/*
 * The Tcl objects the publications reuse, so that setting an element costs
 * no printing and no conversion: the names of the published variables,
 * the decimal keys 0..n-1 of their elements, and the last few texts set
 * (colours and arrow ends repeat on every line). Objects belong to no
 * interpreter, so the cache outlives them; every object here holds one
 * reference of the cache. One instance, g_ui_objs; ui_obj_cache_reset
 * drops it.
 */
enum { NAME_SLOTS = 64, TEXT_SLOTS = 8 };

struct ui_obj_cache {
    const char *name_ptr[NAME_SLOTS]; /* where the name was last passed from */
    const char *name_text[NAME_SLOTS]; /* the name: the text of name_obj */
    Tcl_Obj *name_obj[NAME_SLOTS];    /* its object; set by name_obj_of */
    int name_count;                   /* valid name slots */
    std::vector<Tcl_Obj *> keys;      /* [i]: the key "i"; grown by key_obj_of */
    char text[TEXT_SLOTS][32];        /* the texts of the text slots, NUL ended */
    Tcl_Obj *text_obj[TEXT_SLOTS];    /* their objects; null when unused */
    int text_next;                    /* slot the next new text goes into */
};

static ui_obj_cache g_ui_objs;

void ui_obj_cache_reset()
{
    ui_obj_cache &c = g_ui_objs;
    for (int i = 0; i < c.name_count; i++)
        Tcl_DecrRefCount(c.name_obj[i]);
    for (Tcl_Obj *key : c.keys)
        Tcl_DecrRefCount(key);
    for (Tcl_Obj *text : c.text_obj) {
        if (text != nullptr)
            Tcl_DecrRefCount(text);
    }
    std::vector<Tcl_Obj *>().swap(c.keys);
    std::memset(c.name_ptr, 0, sizeof c.name_ptr);
    std::memset(c.name_text, 0, sizeof c.name_text);
    std::memset(c.name_obj, 0, sizeof c.name_obj);
    std::memset(c.text, 0, sizeof c.text);
    std::memset(c.text_obj, 0, sizeof c.text_obj);
    c.name_count = 0;
    c.text_next = 0;
}

/* A held object of `text`: the caller drops it with Tcl_DecrRefCount. */
static Tcl_Obj *held_obj(const char *text)
{
    Tcl_Obj *obj = Tcl_NewStringObj(text, -1);
    Tcl_IncrRefCount(obj);
    return obj;
}

/* The object of variable name `name`, held by the cache; null once the
 * cache is full. */
static Tcl_Obj *name_obj_of(const char *name)
{
    ui_obj_cache &c = g_ui_objs;
    /* Callers pass their names as literals, so the pointer finds the slot
     * at once; the text decides. */
    for (int i = 0; i < c.name_count; i++) {
        if (c.name_ptr[i] == name && std::strcmp(c.name_text[i], name) == 0)
            return c.name_obj[i];
    }
    for (int i = 0; i < c.name_count; i++) {
        if (std::strcmp(c.name_text[i], name) == 0) {
            c.name_ptr[i] = name;
            return c.name_obj[i];
        }
    }
    if (c.name_count == NAME_SLOTS)
        return nullptr;
    c.name_obj[c.name_count] = held_obj(name);
    c.name_text[c.name_count] = Tcl_GetString(c.name_obj[c.name_count]);
    c.name_ptr[c.name_count] = name;
    return c.name_obj[c.name_count++];
}

/* The object of the element key `index` in decimal; null for a negative
 * index, whose key the cache does not hold. */
static Tcl_Obj *key_obj_of(int index)
{
    ui_obj_cache &c = g_ui_objs;
    if (index < 0)
        return nullptr;
    while (c.keys.size() <= static_cast<size_t>(index)) {
        Tcl_Obj *key = Tcl_NewIntObj(static_cast<int>(c.keys.size()));
        Tcl_GetString(key);   /* the string is what the array hashes */
        Tcl_IncrRefCount(key);
        c.keys.push_back(key);
    }
    return c.keys[static_cast<size_t>(index)];
}

/* An object of the text `value`: a cached one when the text is short and
 * among the last few set, else a new one (no reference held). */
static Tcl_Obj *text_obj_of(const char *value)
{
    ui_obj_cache &c = g_ui_objs;
    size_t length = std::strlen(value);
    if (length >= sizeof c.text[0])
        return Tcl_NewStringObj(value, static_cast<int>(length));
    for (int i = 0; i < TEXT_SLOTS; i++) {
        if (c.text_obj[i] != nullptr && std::strcmp(c.text[i], value) == 0)
            return c.text_obj[i];
    }
    int slot = c.text_next;
    c.text_next = (c.text_next + 1) % TEXT_SLOTS;
    if (c.text_obj[slot] != nullptr)
        Tcl_DecrRefCount(c.text_obj[slot]);
    std::memcpy(c.text[slot], value, length + 1);
    c.text_obj[slot] = held_obj(value);
    return c.text_obj[slot];
}

/* Sets the global name(index), or the variable `name` itself when
 * `element` is false, to `value` (a new or a cached object). */
static void set_obj(const char *name, bool element, int index, Tcl_Obj *value)
{
    Tcl_Obj *name_obj = name_obj_of(name);
    Tcl_Obj *own_name = name_obj == nullptr ? held_obj(name) : nullptr;
    Tcl_Obj *key = nullptr;
    Tcl_Obj *own_key = nullptr;
    if (element) {
        key = key_obj_of(index);
        if (key == nullptr) {
            own_key = Tcl_NewIntObj(index);
            Tcl_IncrRefCount(own_key);
            key = own_key;
        }
    }
    Tcl_IncrRefCount(value);
    Tcl_ObjSetVar2(g_ui.interp, own_name != nullptr ? own_name : name_obj, key, value,
                   TCL_GLOBAL_ONLY);
    Tcl_DecrRefCount(value);
    if (own_key != nullptr)
        Tcl_DecrRefCount(own_key);
    if (own_name != nullptr)
        Tcl_DecrRefCount(own_name);
}

void ui_set_var(const char *name, const char *value)
{
    if (g_ui.picture != nullptr) {
        dl_set_var(g_ui.picture, name, value);
        return;
    }
    if (g_ui.interp == nullptr)
        return;
    Tcl_SetVar2(g_ui.interp, name, nullptr, value, TCL_GLOBAL_ONLY);
}

void ui_set_var_int(const char *name, int value)
{
    if (g_ui.picture != nullptr) {
        char text[32];
        std::snprintf(text, sizeof text, "%d", value);
        dl_set_var(g_ui.picture, name, text);
        return;
    }
    if (g_ui.interp == nullptr)
        return;
    set_obj(name, false, 0, Tcl_NewIntObj(value));
}

void ui_set_elem(const char *name, int index, const char *value)
{
    if (g_ui.picture != nullptr) {
        dl_set_elem(g_ui.picture, name, index, value);
        return;
    }
    if (g_ui.interp == nullptr)
        return;
    set_obj(name, true, index, text_obj_of(value));
}

void ui_set_elem_int(const char *name, int index, int value)
{
    if (g_ui.picture != nullptr) {
        char text[32];
        std::snprintf(text, sizeof text, "%d", value);
        dl_set_elem(g_ui.picture, name, index, text);
        return;
    }
    if (g_ui.interp == nullptr)
        return;
    set_obj(name, true, index, Tcl_NewIntObj(value));
}

const char *ui_get_var(const char *name)
{
    if (g_ui.interp == nullptr)
        return nullptr;
    return Tcl_GetVar2(g_ui.interp, name, nullptr, TCL_GLOBAL_ONLY);
}
