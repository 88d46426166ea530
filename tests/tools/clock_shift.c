/* The agent's clock under Wine, moved by a test: preloaded into the agent's process, it adds the
 * number of seconds written in the file named by ZLV_CLOCK_SHIFT to the wall clock that Wine
 * reads. The monotonic clock, which paces the timers, is left alone. Built twice, for the 32-bit
 * and the 64-bit Wine process, without either C library's files: everything it calls is the
 * process's own. A 32-bit glibc reads the clock through __clock_gettime64, a 64-bit one through
 * clock_gettime; both take the same 64-bit record. */
typedef int clockid;
struct timespec64 {
    long long seconds;
    long long nanoseconds;
};

extern void* dlsym(void* handle, const char* name);
extern char* getenv(const char* name);
extern int open(const char* path, int flags, ...);
extern int read(int fd, void* buffer, unsigned size);
extern int close(int fd);

enum { kRealtime = 0, kRealtimeCoarse = 5 };
#define NEXT_LIBRARY ((void*)-1l)

static long long Shift(void) {
    const char* path = getenv("ZLV_CLOCK_SHIFT");
    char text[24];
    int fd, n, i;
    long long seconds = 0;
    if (!path || (fd = open(path, 0)) < 0) return 0;
    n = read(fd, text, sizeof text);
    close(fd);
    for (i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
        seconds = seconds * 10 + (text[i] - '0');
    return seconds;
}

#ifdef __x86_64__
#define CLOCK_READER clock_gettime
#else
#define CLOCK_READER __clock_gettime64
#endif
#define NAME_OF(f) NAME_TEXT(f)
#define NAME_TEXT(f) #f

int CLOCK_READER(clockid id, struct timespec64* now) {
    static int (*real)(clockid, struct timespec64*);
    int result;
    if (!real)
        real = (int (*)(clockid, struct timespec64*))dlsym(NEXT_LIBRARY, NAME_OF(CLOCK_READER));
    result = real(id, now);
    if (result == 0 && (id == kRealtime || id == kRealtimeCoarse)) now->seconds += Shift();
    return result;
}
