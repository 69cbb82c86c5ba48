/*
 * capfile.cpp --
 *
 *	The libpcap side of reading a capture file: open, filter, run, close.
 *
 *	libpcap says a file ended inside a record with an error text that
 *	begins "truncated dump file" (pcap) or "truncated pcapng dump file"
 *	(pcapng); every packet before the cut was handed over already, so the
 *	run keeps them and only warns. Any other read error is fatal, with
 *	libpcap's own text: errno has nothing to say about a malformed file.
 *
 *	The handler of a trapped load may throw a load_error; it must not
 *	unwind through libpcap's C frames, so the run wraps the handler,
 *	catches it there, breaks the loop and throws it again outside.
 */

#include "capture/capfile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include "capture/capbytes.h"
#include "capture/classic_record.h"
#include "capture/decompress.h"
#include "capture/filemap.h"
#include "capture/linktype.h"
#include "capture/loadfail.h"
#include "capture/pcapng_walk.h"
#include "capture/stream.h"

capfile_state g_capfile = {"", nullptr, nullptr, -1, {}, false};

namespace {

/* Bytes of the stream buffer of a file the mapped walk reads. */
const size_t MAPPED_READ_BUFFER = 64 << 10;

/* Decompressed bytes enough for the probe to see a capture's header and
 * first packets. */
const size_t PROBE_BYTES = 1 << 20;

/* What the wrapped handler carries between libpcap and the real one. */
struct run_context {
    pcap_t *pc;
    pcap_handler handler;
    u_char *user;
    long packets;          /* packets handed to the handler */
    bool failed;           /* the handler threw a load_error */
    load_error error;      /* ... this one */
};

void wrapped_handler(u_char *ctx_bytes, const struct pcap_pkthdr *hdr, const u_char *data)
{
    run_context *ctx = reinterpret_cast<run_context *>(ctx_bytes);
    if (ctx->failed)
        return;
    ctx->packets++;
    try {
        ctx->handler(ctx->user, hdr, data);
    } catch (const load_error &e) {
        ctx->failed = true;
        ctx->error = e;
        pcap_breakloop(ctx->pc);
    }
}

bool is_truncation(const char *text)
{
    return std::strncmp(text, "truncated dump file", 19) == 0 ||
           std::strncmp(text, "truncated pcapng dump file", 26) == 0;
}

/* Compiles the filter on `pc`; returns nullptr or libpcap's reason. */
const char *apply_filter(pcap_t *pc)
{
    if (g_capfile.filter.empty())
        return nullptr;
    struct bpf_program prog;
    if (pcap_compile(pc, &prog, g_capfile.filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) < 0)
        return pcap_geterr(pc);
    int rc = pcap_setfilter(pc, &prog);
    pcap_freecode(&prog);
    return rc < 0 ? pcap_geterr(pc) : nullptr;
}

/* How the opening of a file went, beside libpcap's own outcome. */
struct open_report {
    compression c;        /* the file's compressor; COMP_NONE for plain */
    decompress_end end;   /* how its decompression ended */
    std::string reason;   /* the library's text for a corrupt stream */
    int err;              /* errno of a failed decompression */
    bool streamed;        /* decompressed through a ring (capture/stream.h),
                           * which warns of a cut itself */
};

/* Whether four bytes open a classic pcap file, of either byte order and
 * either stamp resolution. */
bool is_classic_pcap(const uint8_t *b)
{
    static const uint32_t magics[2] = {0xa1b2c3d4, 0xa1b23c4d};
    uint32_t le = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
    uint32_t be = (uint32_t)b[3] | (uint32_t)b[2] << 8 | (uint32_t)b[1] << 16 | (uint32_t)b[0] << 24;
    for (uint32_t m : magics)
        if (le == m || be == m)
            return true;
    return false;
}

/* The leading bytes of a file, enough to tell its form. */
struct lead_bytes {
    uint8_t b[COMPRESSION_MAGIC_MAX < 4 ? 4 : COMPRESSION_MAGIC_MAX];
    size_t n;
    bool consumed;   /* read from a pipe: they must be handed on */
};

/* Whether a file's leading bytes are a pcapng section header's. */
bool is_pcapng(const lead_bytes &lead)
{
    return lead.n >= 4 && lead.b[0] == 0x0a && lead.b[1] == 0x0d && lead.b[2] == 0x0d &&
           lead.b[3] == 0x0a;
}

/* The leading bytes of the file open at `fd`: read where they lie without
 * moving it, or, from a pipe, read off it. */
lead_bytes read_lead(int fd)
{
    lead_bytes lead = {{0}, 0, false};
    ssize_t n = pread(fd, lead.b, sizeof lead.b, 0);
    if (n >= 0) {
        lead.n = (size_t)n;
        return lead;
    }
    lead.consumed = true;
    while (lead.n < sizeof lead.b) {
        ssize_t got = read(fd, lead.b + lead.n, sizeof lead.b - lead.n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        lead.n += (size_t)got;
    }
    return lead;
}

ring_stream *ring_of(pcap_t *pc)
{
    for (const capfile_stream &s : g_capfile.streams)
        if (s.pc == pc && pc != nullptr)
            return s.ring;
    return nullptr;
}

void remember_ring(pcap_t *pc, ring_stream *ring)
{
    for (capfile_stream &s : g_capfile.streams) {
        if (s.pc == nullptr) {
            s = capfile_stream{pc, ring};
            return;
        }
    }
}

/* libpcap on `f`; null (errbuf) when it refuses, `f` then closed. */
pcap_t *open_stream(std::FILE *f, char *errbuf)
{
    errno = 0;
    pcap_t *pc = pcap_fopen_offline(f, errbuf);
    if (pc == nullptr) {
        int err = errno;
        std::fclose(f);
        errno = err;
    }
    return pc;
}

/*
 * libpcap on the decompressed bytes of the file open at `fd` (owned:
 * closed here or with the stream), whose leading bytes `lead` were read
 * off it when lead.consumed. With `limit` > 0 (the probe) at most about
 * `limit` bytes decoded into memory; else a ring stream decompressing
 * as libpcap reads. Null when the decompression failed (rep->end says
 * how) or libpcap refused the bytes (errbuf).
 */
pcap_t *open_compressed(int fd, const lead_bytes &lead, const char *file, size_t limit,
                        char *errbuf, open_report *rep)
{
    const uint8_t *ahead = lead.consumed ? lead.b : nullptr;
    size_t ahead_n = lead.consumed ? lead.n : 0;
    if (limit == 0) {
        ring_stream *ring = nullptr;
        std::FILE *f = stream_decompressing(fd, rep->c, ahead, ahead_n, file, &ring);
        if (f == nullptr) {
            rep->end = DECOMPRESS_FAILED;
            rep->err = errno;
            return nullptr;
        }
        rep->streamed = true;
        errno = 0;
        pcap_t *pc = pcap_fopen_offline(f, errbuf);
        stream_opened(ring);
        if (pc != nullptr) {
            remember_ring(pc, ring);
            return pc;
        }
        /* The data's own end explains a refusal best: learn it before the
         * close frees the ring. */
        stream_drain(ring);
        rep->end = stream_outcome(ring, &rep->reason, &rep->err);
        std::fclose(f);
        errno = 0;
        return nullptr;
    }
    capture_bytes bytes = {};
    rep->end = decompress_into(fd, ahead, ahead_n, rep->c, capbytes_sink(&bytes), limit, &rep->reason);
    rep->err = errno;
    if (fd != STDIN_FILENO)
        close(fd);
    std::FILE *mem = nullptr;
    if (rep->end == DECOMPRESS_DONE || rep->end == DECOMPRESS_CUT) {
        mem = capbytes_stream(&bytes);
        if (mem == nullptr) {
            rep->end = DECOMPRESS_FAILED;
            rep->err = errno;
        }
    }
    if (mem == nullptr) {
        capbytes_free(&bytes);
        return nullptr;
    }
    g_capfile.capture_size = (int64_t)bytes.size;
    return open_stream(mem, errbuf);
}

/*
 * Opens `file` for libpcap, telling its form by its leading bytes: a
 * compressed file (or pipe) through its decompressed bytes; a plain
 * pipe, standard input ("-") among them, through a stream that hands
 * libpcap the bytes read to tell its form first; a plain file as
 * pcap_open_offline would (fopen "rb", then libpcap on the stream, so
 * every failure gives the same text and errno), through the read buffer
 * when it is free.
 */
pcap_t *open_any(const char *file, size_t limit, bool buffered, char *errbuf, open_report *rep)
{
    *rep = open_report{COMP_NONE, DECOMPRESS_DONE, "", 0, false};
    g_capfile.capture_size = -1;
    bool from_stdin = std::strcmp(file, "-") == 0;
    std::FILE *f = from_stdin ? nullptr : std::fopen(file, "rb");
    if (f == nullptr && !from_stdin)
        return pcap_open_offline(file, errbuf);
    lead_bytes lead = read_lead(from_stdin ? STDIN_FILENO : fileno(f));
    rep->c = compression_of(lead.b, lead.n);
    if (rep->c != COMP_NONE || lead.consumed) {
        int fd = from_stdin ? STDIN_FILENO : dup(fileno(f));
        if (f != nullptr)
            std::fclose(f);
        if (fd < 0)
            return nullptr;
        if (rep->c != COMP_NONE)
            return open_compressed(fd, lead, file, limit, errbuf, rep);
        std::FILE *s = stream_prefixed(fd, lead.b, lead.n);
        return s == nullptr ? nullptr : open_stream(s, errbuf);
    }
    if (from_stdin)
        return pcap_open_offline(file, errbuf);
    bool classic = lead.n >= 4 && is_classic_pcap(lead.b);
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode))
        g_capfile.capture_size = (int64_t)st.st_size;
    buffered = buffered && g_capfile.buffer_user == nullptr;
    if (buffered && g_capfile.buffer == nullptr)
        g_capfile.buffer = static_cast<char *>(std::malloc(READ_BUFFER));
    if (buffered && g_capfile.buffer != nullptr) {
        /* A classic or pcapng file on disk is walked where it lies
         * (capture/filemap.h) and libpcap reads only its headers here: the
         * whole buffer would be a megabyte read, and its pages taken, for
         * nothing. Should the walk refuse the file, libpcap reads it
         * through the part used. */
        bool walked = (classic || is_pcapng(lead)) && g_capfile.capture_size >= 0;
        std::setvbuf(f, g_capfile.buffer, _IOFBF, walked ? MAPPED_READ_BUFFER : (size_t)READ_BUFFER);
        /* Only the loading thread reads the stream, and once the window
         * runs the process has other threads: stdio need not lock the
         * stream for each of libpcap's two reads per packet. */
        __fsetlocking(f, FSETLOCKING_BYCALLER);
    }
    pcap_t *pc = open_stream(f, errbuf);
    if (pc != nullptr && buffered && g_capfile.buffer != nullptr)
        g_capfile.buffer_user = pc;
    return pc;
}

/* The failure or warning a decompression gives in a load (load_fail,
 * load_warnf); nothing for one that went well. */
void report_decompression(const char *file, const open_report &rep)
{
    const char *name = compression_name(rep.c);
    if (rep.end == DECOMPRESS_CORRUPT)
        load_failf(1, "wirepaint: %s: corrupt %s data: %s\n", file, name, rep.reason.c_str());
    if (rep.end == DECOMPRESS_FAILED) {
        errno = rep.err;
        load_fail_errno(-1, file);
    }
    if (rep.end == DECOMPRESS_CUT && !rep.streamed)
        load_warnf("wirepaint: warning: %s: %s data cut short; read up to the cut\n", file, name);
}

}  // namespace

void capture_close(pcap_t *pc)
{
    if (pc != nullptr && pc == g_capfile.buffer_user)
        g_capfile.buffer_user = nullptr;
    for (capfile_stream &s : g_capfile.streams)
        if (s.pc == pc)
            s = capfile_stream{nullptr, nullptr};
    pcap_close(pc);
}

pcap_t *capture_open(const char *file)
{
    char errbuf[PCAP_ERRBUF_SIZE];
    open_report rep;
    errno = 0;
    pcap_t *pc = open_any(file, 0, true, errbuf, &rep);
    report_decompression(file, rep);
    if (pc == nullptr) {
        /* A file that opens but is no capture leaves errno at 0; then the
         * system has nothing to say and libpcap's own reason is shown. */
        if (errno != 0)
            load_fail_errno(-1, "pcap_open");
        load_failf(-1, "pcap_open: %s\n", errbuf);
    }
    const char *bad = apply_filter(pc);
    if (bad != nullptr) {
        std::string reason = bad;
        capture_close(pc);
        load_failf(1, "wirepaint: bad filter expression: %s\n", reason.c_str());
    }
    return pc;
}

namespace {

/* The end of a run, libpcap's or the map's: `rc` its outcome
 * (PCAP_ERROR with `text`), then as capture_run says. */
void finish_run(pcap_t *pc, const char *file, const run_context &ctx, int rc, const std::string &text)
{
    open_report rep = {COMP_NONE, DECOMPRESS_DONE, "", 0, true};
    ring_stream *ring = ring_of(pc);
    if (ring != nullptr) {
        /* A run that stopped early may have stopped on what damaged data
         * made: the decompression's end comes first, as when the whole
         * file was decompressed before the read. */
        if (ctx.failed || rc == PCAP_ERROR)
            stream_drain(ring);
        rep.end = stream_outcome(ring, &rep.reason, &rep.err);
        rep.c = stream_compression(ring);
    }
    capture_close(pc);
    if (rep.end == DECOMPRESS_CORRUPT || rep.end == DECOMPRESS_FAILED)
        report_decompression(file, rep);
    if (ctx.failed)
        throw ctx.error;
    if (rc != PCAP_ERROR)
        return;
    if (ctx.packets == 0 || !is_truncation(text.c_str()))
        load_failf(-2, "pcap_loop: %s\n", text.c_str());
    load_warnf("wirepaint: warning: %s: %s\n", file, text.c_str());
}

/* The filter of the run, compiled on `pc` as capture_open did; false for
 * none. */
bool compile_filter(pcap_t *pc, struct bpf_program *prog)
{
    if (g_capfile.filter.empty())
        return false;
    return pcap_compile(pc, prog, g_capfile.filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
}

}  // namespace

namespace {

/* A run that reads the records itself, with `next` (filemap_next's
 * contract), libpcap's filter applied to each: the same packets,
 * messages and statuses as pcap_loop. */
template <typename Next>
void walk_run(pcap_t *pc, const char *file, pcap_handler handler, u_char *user, Next next)
{
    run_context ctx = {pc, handler, user, 0, false, {0}};
    struct bpf_program prog;
    bool filtered = compile_filter(pc, &prog);
    int snapshot = pcap_snapshot(pc);
    char errbuf[PCAP_ERRBUF_SIZE];
    struct pcap_pkthdr hdr;
    const uint8_t *data = nullptr;
    int rc = 0;
    while (!ctx.failed && (rc = next(snapshot, &hdr, &data, errbuf)) == 1) {
        if (!filtered || pcap_offline_filter(&prog, &hdr, data) != 0)
            wrapped_handler(reinterpret_cast<u_char *>(&ctx), &hdr, data);
    }
    if (filtered)
        pcap_freecode(&prog);
    rc = ctx.failed ? 0 : rc == -1 ? PCAP_ERROR : 0;
    finish_run(pc, file, ctx, rc, rc == PCAP_ERROR ? errbuf : "");
}

}  // namespace

void capture_run(pcap_t *pc, const char *file, pcap_handler handler, u_char *user)
{
    ring_stream *ring = ring_of(pc);
    classic_format format;
    if (ring != nullptr && !g_capfile.literal_read && stream_walkable(ring, &format) &&
        classic_walkable(pc, format, pcap_datalink(pc))) {
        walk_run(pc, file, handler, user,
                 [ring](int snapshot, struct pcap_pkthdr *hdr, const uint8_t **data, char *errbuf) {
                     return stream_next(ring, snapshot, hdr, data, errbuf);
                 });
        return;
    }
    int linktype = pcap_datalink(pc);
    if (ring != nullptr && !g_capfile.literal_read && stream_ng_walkable(ring) &&
        pcapng_walkable(pc, pcap_is_swapped(pc) == 1, linktype)) {
        walk_run(pc, file, handler, user,
                 [ring, linktype](int snapshot, struct pcap_pkthdr *hdr, const uint8_t **data,
                                  char *errbuf) {
                     return stream_ng_next(ring, linktype, snapshot, hdr, data, errbuf);
                 });
        return;
    }
    run_context ctx = {pc, handler, user, 0, false, {0}};
    int rc = pcap_loop(pc, -1, wrapped_handler, reinterpret_cast<u_char *>(&ctx));
    std::string text = rc == PCAP_ERROR ? pcap_geterr(pc) : "";
    finish_run(pc, file, ctx, rc, text);
}

void capture_run_mapped(pcap_t *pc, const char *file, file_map *m, pcap_handler handler,
                        u_char *user)
{
    if (!filemap_can_hand(m, pc)) {
        capture_run(pc, file, handler, user);
        return;
    }
    walk_run(pc, file, handler, user,
             [m](int snapshot, struct pcap_pkthdr *hdr, const uint8_t **data, char *errbuf) {
                 return filemap_next(m, snapshot, hdr, data, errbuf);
             });
}

int capture_probe(const char *file, std::string *reason)
{
    char errbuf[PCAP_ERRBUF_SIZE];
    open_report rep;
    pcap_t *pc = open_any(file, PROBE_BYTES, false, errbuf, &rep);
    if (rep.end == DECOMPRESS_CORRUPT) {
        *reason = std::string("corrupt ") + compression_name(rep.c) + " data: " + rep.reason;
        return 0;
    }
    if (rep.end == DECOMPRESS_FAILED) {
        *reason = std::strerror(rep.err);
        return 0;
    }
    if (pc == nullptr) {
        *reason = errbuf;
        return 0;
    }
    int linktype = pcap_datalink(pc);
    if (link_header_length(linktype) < 0) {
        char text[256];
        const char *name = pcap_datalink_val_to_name(linktype);
        std::snprintf(text, sizeof text, "Unknown DLT %x (%s): wirepaint does not read this link type",
                      linktype, name != nullptr ? name : "unnamed");
        *reason = text;
        pcap_close(pc);
        return 0;
    }
    const char *bad = apply_filter(pc);
    bool ok = bad == nullptr;
    if (!ok)
        *reason = std::string("bad filter expression: ") + bad;
    pcap_close(pc);
    return ok;
}
