/* Test harness only, never part of the program: an LD_PRELOAD library that
 * gives a pseudo-terminal the modem lines and status registers a serial port
 * has, so that wine treats a pty like a COM port.
 *
 * A pty refuses TIOCMGET/TIOCMBIS/TIOCMBIC/TIOCMSET, TIOCSERGETLSR and
 * TIOCGICOUNT with ENOTTY. Wine then fails GetCommModemStatus and
 * EscapeCommFunction with ERROR_NOT_SUPPORTED and aborts every pending
 * WaitCommEvent. Here a refused request on a pty slave is answered instead:
 * DTR and RTS are remembered per device, and the inputs read as a null-modem
 * cable would wire them back (RTS -> CTS, DTR -> DSR and DCD). The transmitter
 * reads empty once the output queue is; the error counters stay at zero.
 * Requests the device answers itself, and every other descriptor, pass through.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn real_ioctl(void)
{
    static ioctl_fn fn;
    if (!fn) {
        /* POSIX makes dlsym's data pointer usable as a function pointer; ISO C
         * has no such conversion (-Wpedantic), so the pointer's bits are
         * copied instead of cast. */
        void* symbol = dlsym(RTLD_NEXT, "ioctl");
        memcpy(&fn, &symbol, sizeof fn);
    }
    return fn;
}

/* UNIX98 pty slaves: character devices with majors 136..143. */
static int is_pty_slave(int fd, dev_t* rdev)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    unsigned major_number = major(st.st_rdev);
    *rdev = st.st_rdev;
    return major_number >= 136 && major_number <= 143;
}

#define MAX_DEVICES 64
static struct {
    dev_t rdev;
    int lines; /* TIOCM_DTR | TIOCM_RTS as last set */
} devices[MAX_DEVICES];
static int device_count;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

/* Under lock. A device starts with DTR and RTS raised, as a tty's open does. */
static int* lines_of(dev_t rdev)
{
    for (int i = 0; i < device_count; ++i)
        if (devices[i].rdev == rdev)
            return &devices[i].lines;
    int slot = device_count < MAX_DEVICES ? device_count++ : MAX_DEVICES - 1;
    devices[slot].rdev = rdev;
    devices[slot].lines = TIOCM_DTR | TIOCM_RTS;
    return &devices[slot].lines;
}

static int looped_status(int lines)
{
    int status = lines & (TIOCM_DTR | TIOCM_RTS);
    if (lines & TIOCM_RTS)
        status |= TIOCM_CTS;
    if (lines & TIOCM_DTR)
        status |= TIOCM_DSR | TIOCM_CAR;
    return status;
}

static int answer(int fd, unsigned long request, void* arg, dev_t rdev)
{
    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC: {
        pthread_mutex_lock(&lock);
        int* lines = lines_of(rdev);
        int value = arg ? *(int*)arg & (TIOCM_DTR | TIOCM_RTS) : 0;
        if (request == TIOCMSET)
            *lines = value;
        else if (request == TIOCMBIS)
            *lines |= value;
        else if (request == TIOCMBIC)
            *lines &= ~value;
        else if (arg)
            *(int*)arg = looped_status(*lines);
        pthread_mutex_unlock(&lock);
        return 0;
    }
    case TIOCSERGETLSR: {
        int queued = 0;
        if (real_ioctl()(fd, TIOCOUTQ, &queued) != 0)
            queued = 0;
        if (arg)
            *(unsigned int*)arg = queued == 0 ? TIOCSER_TEMT : 0;
        return 0;
    }
    case TIOCGICOUNT:
        if (arg)
            memset(arg, 0, sizeof(struct serial_icounter_struct));
        return 0;
    default:
        return -1;
    }
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);

    int saved = errno;
    int r = real_ioctl()(fd, request, arg);
    if (r == 0 || (errno != ENOTTY && errno != EINVAL))
        return r;
    int failure = errno;
    dev_t rdev;
    if (is_pty_slave(fd, &rdev) && answer(fd, request, arg, rdev) == 0) {
        errno = saved;
        return 0;
    }
    errno = failure;
    return r;
}
