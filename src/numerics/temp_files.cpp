#include "numerics/temp_files.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

// The table is fixed so that the signal handler can walk it: a slot's names
// are written while it is free (pending 0) and only read once pending is set.
// At most one output per map plus its header, the residue and one
// uncompressed copy per run are pending at once.
constexpr int SLOTS = 64;
constexpr int PATH_BYTES = 4096;

struct Slot {
    char temp[PATH_BYTES];
    char final_name[PATH_BYTES];  // empty for a private temporary file
    std::FILE *stream;
    int owner;  // slot whose commit renames this one, or -1
    pid_t pid;  // process that created the file (a forked child leaves it alone)
    volatile std::sig_atomic_t pending;
};
Slot slots[SLOTS];

constexpr int HANDLED_SIGNALS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXCPU, SIGABRT};

// Keeps the handled signals away while a file is created and entered in the
// table, so that no file exists that the handler would not know of.
class SignalBlock {
public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : HANDLED_SIGNALS) sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

// Only async-signal-safe calls: the handler runs this.
void remove_pending() {
    const pid_t me = getpid();
    for (Slot &s : slots)
        if (s.pending && s.pid == me) {
            unlink(s.temp);
            s.pending = 0;
        }
}

extern "C" void remove_at_exit() { remove_pending(); }

extern "C" void remove_and_resignal(int signal) {
    remove_pending();
    // SA_RESETHAND restored the default action, which the signal now takes.
    raise(signal);
}

Slot *free_slot() {
    for (Slot &s : slots)
        if (!s.pending) return &s;
    std::printf("Error: more than %d temporary files would be open at once.\n", SLOTS);
    errno = EMFILE;
    return nullptr;
}

Slot *slot_of(const std::FILE *stream) {
    for (Slot &s : slots)
        if (s.pending && s.stream == stream) return &s;
    return nullptr;
}

void enter(Slot *s, const char *final_name, std::FILE *stream) {
    static const bool at_exit = std::atexit(remove_at_exit) == 0;
    (void)at_exit;
    std::snprintf(s->final_name, PATH_BYTES, "%s", final_name);
    s->stream = stream;
    s->owner = -1;
    s->pid = getpid();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    s->pending = 1;
}

void discard(Slot *s) {
    if (s->stream) std::fclose(s->stream);
    s->stream = nullptr;
    unlink(s->temp);
    s->pending = 0;
}

// Closes the stream; true when it was written without error.
bool finish(Slot *s) {
    bool ok = std::ferror(s->stream) == 0;
    if (std::fclose(s->stream) != 0) ok = false;
    s->stream = nullptr;
    return ok;
}

}  // namespace

void install_temp_file_removal() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = remove_and_resignal;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);
    for (int s : HANDLED_SIGNALS) {
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(s, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

std::FILE *create_output(const char *final_name) {
    SignalBlock block;
    Slot *s = free_slot();
    if (!s) return nullptr;
    if (std::strlen(final_name) >= PATH_BYTES) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    const int pid = static_cast<int>(getpid());
    int fd = -1;
    // A name left by an earlier process of the same number is not ours to reuse.
    for (int k = 0; fd < 0 && k < 100; ++k) {
        const int length = k == 0 ? std::snprintf(s->temp, PATH_BYTES, "%s.%d.tmp", final_name, pid)
                                  : std::snprintf(s->temp, PATH_BYTES, "%s.%d-%d.tmp", final_name, pid, k);
        if (length >= PATH_BYTES) {
            errno = ENAMETOOLONG;
            return nullptr;
        }
        fd = open(s->temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return nullptr;
    }
    if (fd < 0) return nullptr;
    std::FILE *stream = fdopen(fd, "wb");
    if (!stream) {
        const int error = errno;
        close(fd);
        unlink(s->temp);
        errno = error;
        return nullptr;
    }
    enter(s, final_name, stream);
    return stream;
}

bool close_output(std::FILE *stream, bool complete) {
    Slot *s = slot_of(stream);
    if (!s) return std::fclose(stream) == 0 && complete;
    const int index = static_cast<int>(s - slots);
    bool ok = finish(s) && complete;
    if (ok && std::rename(s->temp, s->final_name) != 0) ok = false;
    if (ok) s->pending = 0;
    for (Slot &part : slots) {
        if (!part.pending || part.owner != index) continue;
        if (ok && std::rename(part.temp, part.final_name) == 0)
            part.pending = 0;
        else
            discard(&part);
    }
    if (!ok) discard(s);
    return ok;
}

bool attach_output(std::FILE *part, std::FILE *owner) {
    Slot *s = slot_of(part);
    const Slot *o = slot_of(owner);
    if (!s || !o) return false;
    if (!finish(s)) {
        discard(s);
        return false;
    }
    s->owner = static_cast<int>(o - slots);
    return true;
}

int create_temporary(const char *dir, std::string *name) {
    SignalBlock block;
    Slot *s = free_slot();
    if (!s) return -1;
    if (std::snprintf(s->temp, PATH_BYTES, "%s/fmriglm-XXXXXX", dir) >= PATH_BYTES) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = mkostemp(s->temp, O_CLOEXEC);
    if (fd < 0) return -1;
    enter(s, "", nullptr);
    *name = s->temp;
    return fd;
}

void remove_temporary(const std::string &name) {
    for (Slot &s : slots)
        if (s.pending && !s.stream && s.final_name[0] == '\0' && name == s.temp) discard(&s);
}
