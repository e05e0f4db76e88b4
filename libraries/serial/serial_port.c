/* The device side: a terminal device opened for the module alone and configured as a
 * raw byte line, reads that wait for their whole answer, writes that first drop what
 * has been received. */
#define _DEFAULT_SOURCE /* cfsetspeed constants, CRTSCTS, flock, nanosleep */
#include "serial.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

/* Opens the device named by a port name, or null. The device must be a terminal; it is
 * never made the controlling terminal, not passed to child processes, and held under an
 * exclusive lock: a second open of the same device by this or another process that locks
 * it fails until this one is closed. The open itself does not wait for the carrier;
 * later writes block until done. */
SerialPort* serialOpen(const char* name) {
    if (!name) return NULL; /* the name did not convert */
    char buffer[32];
    const char* path = serialDevicePath(name, buffer, sizeof buffer);
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return NULL;
    SerialPort* port = NULL;
    if (isatty(fd) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        (port = (SerialPort*)malloc(sizeof *port)) != NULL) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        port->fd = fd;
        port->users = 1;
        return port;
    }
    close(fd);
    return NULL;
}

static const struct {
    int rate;
    speed_t speed;
} speeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

static int speedOf(int rate, speed_t* speed) {
    for (size_t i = 0; i < sizeof speeds / sizeof speeds[0]; i++)
        if (speeds[i].rate == rate) return *speed = speeds[i].speed, 1;
    return 0;
}

static const tcflag_t dataBits[] = {CS5, CS6, CS7, CS8};

/* Reads the device's settings and changes only these: a raw byte line (no echo, no line
 * editing, no signal characters, no translation of carriage returns or line feeds, no
 * XON/XOFF on output, modem lines ignored) whose reads return at once with what is
 * queued; then, when the speed and the data bits are ones the device can take, that
 * speed and data bits, no parity, one stop bit, no CTS flow control and RTS off. A speed
 * or data-bit count it cannot take leaves the whole previous line setting, as a refused
 * setting does. The queue sizes have no counterpart here. */
void serialConfigure(SerialPort* port, const SerialLine* line) {
    struct termios t;
    if (tcgetattr(port->fd, &t) != 0) return;
    t.c_iflag &= ~(tcflag_t)(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~(tcflag_t)OPOST;
    t.c_lflag &= ~(tcflag_t)(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed;
    int lineOk = speedOf(line->baudRate, &speed) && line->byteSize >= 5 && line->byteSize <= 8;
    if (lineOk) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        t.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= dataBits[line->byteSize - 5];
    }
    tcsetattr(port->fd, TCSANOW, &t);
    if (lineOk) {
        int rts = TIOCM_RTS;
        ioctl(port->fd, TIOCMBIC, &rts); /* refused by devices without modem lines */
    }
}

int serialHandleNumber(const SerialPort* port) {
    return port->fd;
}

void serialRelease(SerialPort* port) {
    if (port && --port->users == 0) {
        close(port->fd);
        free(port);
    }
}

/* Reads or writes all n bytes unless the device fails; returns the count moved. */
static size_t transfer(int fd, char* bytes, size_t n, int out) {
    size_t done = 0;
    while (done < n) {
        ssize_t k = out ? write(fd, bytes + done, n - done) : read(fd, bytes + done, n - done);
        if (k > 0)
            done += (size_t)k;
        else if (k == 0 || errno != EINTR)
            break;
    }
    return done;
}

/* Bytes waiting in the input queue, -1 when the device refuses to tell. */
static int queued(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

/* Waits until count bytes are queued, at most 15 pauses of 1 ms per byte and no fewer
 * than 150, then reads them; returns the count read: count, or 0 when they did not all
 * arrive in time (what did arrive stays queued). */
size_t serialRead(SerialPort* port, char* buffer, size_t count) {
    long budget = (long)count * 15 < 150 ? 150 : (long)count * 15;
    const struct timespec pause = {0, 1000000};
    int n;
    while ((n = queued(port->fd)) >= 0 && (size_t)n < count && budget > 0) {
        nanosleep(&pause, NULL);
        budget--;
    }
    if (n < 0 || (size_t)n < count) return 0;
    return transfer(port->fd, buffer, count, 0);
}

/* Drops what has been received, then writes all the bytes; returns the count written. */
size_t serialWrite(SerialPort* port, char* bytes, size_t length) {
    tcflush(port->fd, TCIFLUSH);
    return transfer(port->fd, bytes, length, 1);
}
