/* Finding, opening and closing devices: enumerate, open and close.
 *
 * The library keeps one process-wide list of buses and devices, which every scan
 * rebuilds (freeing the devices that went away). Scans and walks over it run under
 * busLock and outside the engine request; what a native needs from the list it copies
 * out first, and makes its script values afterwards. */
#include "usb_module.h"

#include "hid_descriptor.h"
#include "usb_handles.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define HID_CLASS 3
#define INTERRUPT_IN 0x81

/* Makers of USB power devices (HID power-device class) whose devices get configuration
 * 1 and interface 0 claimed on open. */
static const int claimedVendors[] = {0x0463, 0x051d, 0x0764};

static pthread_mutex_t busLock = PTHREAD_MUTEX_INITIALIZER;

/* A device as enumerate reports it. */
typedef struct Found {
    int vendor, product, hid;
    char* dirName;
    char* fileName;
} Found;

static void rescan(void) {
    usb_find_busses();
    usb_find_devices();
}

/* The first setting of the first interface of the first configuration, or null. */
static struct usb_interface_descriptor* firstSetting(struct usb_device* dev) {
    struct usb_config_descriptor* c = dev->config;
    if (!c || dev->descriptor.bNumConfigurations == 0 || c->bNumInterfaces == 0 || !c->interface ||
        c->interface->num_altsetting < 1)
        return NULL;
    return c->interface->altsetting;
}

static void freeFound(Found* found, int count) {
    for (int i = 0; i < count; i++) {
        free(found[i].dirName);
        free(found[i].fileName);
    }
    free(found);
}

/* Rescans and copies out every device; the count, or -1 when out of memory. */
static int scanDevices(Found** out) {
    pthread_mutex_lock(&busLock);
    rescan();
    int count = 0, n = 0;
    for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next)
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
            count++;
    Found* found = (Found*)calloc(count ? count : 1, sizeof(Found));
    for (struct usb_bus* bus = usb_get_busses(); found && bus; bus = bus->next) {
        for (struct usb_device* dev = bus->devices; found && dev && n < count;
             dev = dev->next, n++) {
            struct usb_interface_descriptor* s = firstSetting(dev);
            found[n].vendor = dev->descriptor.idVendor;
            found[n].product = dev->descriptor.idProduct;
            found[n].hid = s && s->bInterfaceClass == HID_CLASS;
            found[n].dirName = strdup(bus->dirname);
            found[n].fileName = strdup(dev->filename);
            if (!found[n].dirName || !found[n].fileName) {
                freeFound(found, n + 1);
                found = NULL;
            }
        }
    }
    pthread_mutex_unlock(&busLock);
    *out = found;
    return found ? count : -1;
}

/* hostPublish of a number, and of a text (0 also when the string cannot be made). */
static int defineNumber(HostContext* cx, HostObject* obj, const char* name, double d) {
    return hostPublish(cx, obj, name, hostApi->newNumber(cx, d));
}

static int defineText(HostContext* cx, HostObject* obj, const char* name, const char* text) {
    HostValue v = hostApi->newString(cx, text, NULL);
    return !hostIsUndefined(v) && hostPublish(cx, obj, name, v);
}

/* enumerate() */
int usbEnumerate(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                 HostValue* rval) {
    (void)argc, (void)argv;
    if (!hostRecord(cx, self)) {
        hostApi->reportError(cx, "USB.enumerate: USB not initialized");
        return 0;
    }
    Found* found;
    int depth = hostApi->suspendRequest(cx);
    int count = scanDevices(&found);
    hostApi->resumeRequest(cx, depth);
    if (count < 0) {
        hostApi->reportError(cx, "USB.enumerate: out of memory");
        return 0;
    }
    HostObject* list = hostApi->newArray(cx, 0, NULL);
    int ok = list != NULL;
    for (int i = 0; ok && i < count; i++) {
        printf("Found: %d: %d\n", found[i].vendor, found[i].product);
        HostObject* d = hostApi->newObject(cx, NULL);
        HostValue v = hostObject(d);
        ok = d && defineNumber(cx, d, "idVendor", found[i].vendor) &&
             defineNumber(cx, d, "idProduct", found[i].product) &&
             defineText(cx, d, "dirName", found[i].dirName) &&
             defineText(cx, d, "fileName", found[i].fileName) &&
             defineNumber(cx, d, "hid", found[i].hid) && hostApi->setElement(cx, list, i, &v);
    }
    fflush(stdout);
    freeFound(found, count);
    if (ok) *rval = hostObject(list);
    return ok;
}

static int claimedVendor(int vendor) {
    for (size_t i = 0; i < sizeof claimedVendors / sizeof claimedVendors[0]; i++)
        if (claimedVendors[i] == vendor) return 1;
    return 0;
}

/* What opening a device gave: the handle number (0: not present) and the report
 * descriptor length, or the library's status and error text of a refusal. */
typedef struct Opened {
    double number;
    int reportLength;
    int status;
    char error[256];
} Opened;

static void keepError(Opened* o, int status) {
    o->status = status;
    snprintf(o->error, sizeof o->error, "%s", usb_strerror());
}

/* Selects configuration 1, interface 0 and its setting 0; the first failing status, or
 * 0. The kernel's own HID driver is detached from the interface first, as it holds
 * every HID interface it knows (where none is bound this fails, and that is fine). */
static int claim(usb_dev_handle* h, Opened* o) {
    int rc = usb_set_configuration(h, 1);
    if (rc >= 0) {
        usb_detach_kernel_driver_np(h, 0);
        rc = usb_claim_interface(h, 0);
    }
    if (rc >= 0) rc = usb_set_altinterface(h, 0);
    if (rc < 0) {
        keepError(o, rc);
        return rc;
    }
    usb_clear_halt(h, INTERRUPT_IN);
    return 0;
}

/* Rescans, finds the device by its names and opens it. */
static void openDevice(const char* dirName, const char* fileName, Opened* o) {
    pthread_mutex_lock(&busLock);
    rescan();
    struct usb_device* dev = NULL;
    for (struct usb_bus* bus = usb_get_busses(); bus && !dev; bus = bus->next)
        if (strcmp(bus->dirname, dirName) == 0)
            for (dev = bus->devices; dev && strcmp(dev->filename, fileName) != 0;)
                dev = dev->next;
    usb_dev_handle* h = dev ? usb_open(dev) : NULL;
    if (dev && !h) keepError(o, -1);
    if (h && claimedVendor(dev->descriptor.idVendor) && claim(h, o) < 0) {
        usb_close(h);
        h = NULL;
    }
    if (h) {
        struct usb_interface_descriptor* s = firstSetting(dev);
        o->reportLength = s ? hidReportDescriptorLength(s->extra, s->extralen) : 0;
    }
    pthread_mutex_unlock(&busLock);
    if (h && (o->number = usbHandleAdd(h)) == 0) usb_close(h);
}

/* open(device). Opening a device object that is open already closes its earlier handle
 * first, so that nothing stays open that no script can reach. */
int usbOpen(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    if (argc < 1) return hostFormatError(cx, "USB.open(<device>)");
    if (!hostRecord(cx, self)) {
        hostApi->reportError(cx, "USB.open: USB not initialized");
        return 0;
    }
    *rval = HOST_FALSE;
    HostObject* device = hostToObject(argv[0]);
    const char* fileName = hostTextProperty(cx, device, "fileName");
    const char* dirName = hostTextProperty(cx, device, "dirName");
    Opened o = {0, 0, 0, ""};
    if (fileName && dirName) {
        usbHandleClose(hostNumberProperty(cx, device, "handle", 0));
        int depth = hostApi->suspendRequest(cx);
        openDevice(dirName, fileName, &o);
        hostApi->resumeRequest(cx, depth);
    }
    if (o.status) {
        hostApi->reportError(cx, "USB.open: ERROR! Unable to open device: %d %s", o.status,
                             o.error);
        return 0;
    }
    if (o.number == 0) return 1;
    if (!defineNumber(cx, device, "handle", o.number) ||
        !defineNumber(cx, device, "reportDescriptorSize", o.reportLength)) {
        usbHandleClose(o.number);
        return 0;
    }
    *rval = HOST_TRUE;
    return 1;
}

/* close(device) */
int usbClose(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "USB.close(<device>)");
    HostObject* device = hostToObject(argv[0]);
    usbHandleClose(hostNumberProperty(cx, device, "handle", 0));
    if (device) defineNumber(cx, device, "handle", 0);
    *rval = HOST_TRUE;
    return 1;
}
