/* Open devices by number. A transfer runs outside the engine request, so another script
 * thread may close its device meanwhile: close then only retires the number, and the
 * last transfer to finish closes the device. */
#include "usb_handles.h"

#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>

struct UsbHandle {
    int64_t number;
    usb_dev_handle* dev;
    int users;
    int retired;
    UsbHandle* next;
};

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static UsbHandle* live;
static int64_t lastNumber;

static void closeDevice(UsbHandle* h) {
    usb_release_interface(h->dev, 0);
    usb_close(h->dev);
    free(h);
}

double usbHandleAdd(usb_dev_handle* dev) {
    UsbHandle* h = (UsbHandle*)calloc(1, sizeof(UsbHandle));
    if (!h) return 0;
    h->dev = dev;
    pthread_mutex_lock(&lock);
    h->number = ++lastNumber;
    h->next = live;
    live = h;
    pthread_mutex_unlock(&lock);
    return (double)h->number;
}

/* The link that points at the live entry of this number, or null. */
static UsbHandle** find(double number) {
    for (UsbHandle** p = &live; *p; p = &(*p)->next)
        if ((double)(*p)->number == number) return p;
    return NULL;
}

UsbHandle* usbHandleAcquire(double number, usb_dev_handle** dev) {
    pthread_mutex_lock(&lock);
    UsbHandle** p = find(number);
    UsbHandle* h = p ? *p : NULL;
    if (h) {
        h->users++;
        *dev = h->dev;
    }
    pthread_mutex_unlock(&lock);
    return h;
}

void usbHandleRelease(UsbHandle* h) {
    pthread_mutex_lock(&lock);
    int last = --h->users == 0 && h->retired;
    pthread_mutex_unlock(&lock);
    if (last) closeDevice(h);
}

void usbHandleClose(double number) {
    pthread_mutex_lock(&lock);
    UsbHandle** p = find(number);
    UsbHandle* h = p ? *p : NULL;
    int now = 0;
    if (h) {
        *p = h->next;
        h->retired = 1;
        now = h->users == 0;
    }
    pthread_mutex_unlock(&lock);
    if (now) closeDevice(h);
}
