/* A stand-in for the libusb 0.1 library (libusb-0.1.so.4), built only for the tests of
 * the USB module, which load it in place of the real one. It has every function of the
 * library's header and simulates one bus, "001", with one HID device, "002", whose
 * interface announces a report descriptor of REPORT_LENGTH bytes.
 *
 * The device keeps one report (at first the bytes 1 to 8): a control OUT request stores
 * its data as the report, a control IN request and an interrupt read on endpoint 0x81
 * answer with it. Request code 0xFF stalls.
 *
 * The test steers it through the folder named by $USB_STANDIN: the words in its file
 * "state" say what is to happen ("gone": the device is unplugged; "busy": claiming the
 * interface fails; "timeout": reads time out; "slow": reads take 300 ms and log "woke" at their
 * end; "vendor=hhhh": the device's vendor), and each call that reaches the device is appended as a
 * line to its file "log". */
#include <usb.h>

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#define REPORT_LENGTH 0x0123
#define DEFAULT_VENDOR 0x0764
#define PRODUCT 0x0501

struct usb_bus* usb_busses;

struct usb_dev_handle {
    int claimed;
};

static struct usb_bus bus;
static struct usb_device device;
static struct usb_config_descriptor config;
static struct usb_interface interface;
static struct usb_interface_descriptor setting;
/* An unknown class descriptor, then the HID descriptor: 1.11, one report descriptor. */
static unsigned char extra[] = {4,
                                0x99,
                                0,
                                0,
                                9,
                                0x21,
                                0x11,
                                0x01,
                                0x00,
                                0x01,
                                0x22,
                                REPORT_LENGTH & 0xFF,
                                REPORT_LENGTH >> 8,
                                7,
                                0x05,
                                0x81,
                                0x03,
                                0x08,
                                0x00,
                                0x0A};
static char report[64] = {1, 2, 3, 4, 5, 6, 7, 8};
static int reportSize = 8;
static char errorText[512];

/* The state file's text, empty when there is none. */
static const char* state(void) {
    static char text[256];
    text[0] = 0;
    const char* dir = getenv("USB_STANDIN");
    char path[4096];
    if (!dir || snprintf(path, sizeof path, "%s/state", dir) >= (int)sizeof path) return text;
    FILE* f = fopen(path, "r");
    if (f) {
        text[fread(text, 1, sizeof text - 1, f)] = 0;
        fclose(f);
    }
    return text;
}

static int stateHas(const char* word) {
    return strstr(state(), word) != NULL;
}

static void logCall(const char* format, ...) {
    const char* dir = getenv("USB_STANDIN");
    char path[4096];
    if (!dir || snprintf(path, sizeof path, "%s/log", dir) >= (int)sizeof path) return;
    FILE* f = fopen(path, "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
    fputc('\n', f);
    fclose(f);
}

/* Records the error text and returns the status. */
static int fail(int status, const char* what) {
    snprintf(errorText, sizeof errorText, "%s: %s", what, strerror(-status));
    return status;
}

void usb_init(void) {
    strcpy(bus.dirname, "001");
    strcpy(device.filename, "002");
}

void usb_set_debug(int level) {
    logCall("set_debug %d", level);
}

int usb_find_busses(void) {
    int changed = usb_busses == NULL;
    usb_busses = &bus;
    return changed;
}

int usb_find_devices(void) {
    int present = !stateHas("gone");
    int changed = present != (bus.devices != NULL);
    memset(&device.descriptor, 0, sizeof device.descriptor);
    bus.devices = present ? &device : NULL;
    if (!present) return changed;
    const char* vendor = strstr(state(), "vendor=");
    device.bus = &bus;
    device.descriptor.bLength = USB_DT_DEVICE_SIZE;
    device.descriptor.bDescriptorType = USB_DT_DEVICE;
    device.descriptor.idVendor = vendor ? (uint16_t)strtol(vendor + 7, NULL, 16) : DEFAULT_VENDOR;
    device.descriptor.idProduct = PRODUCT;
    device.descriptor.bNumConfigurations = 1;
    device.config = &config;
    config.bNumInterfaces = 1;
    config.bConfigurationValue = 1;
    config.interface = &interface;
    interface.altsetting = &setting;
    interface.num_altsetting = 1;
    setting.bInterfaceClass = USB_CLASS_HID;
    setting.bNumEndpoints = 1;
    setting.extra = extra;
    setting.extralen = sizeof extra;
    return changed;
}

struct usb_bus* usb_get_busses(void) {
    return usb_busses;
}

struct usb_device* usb_device(usb_dev_handle* dev) {
    (void)dev;
    return bus.devices;
}

usb_dev_handle* usb_open(struct usb_device* dev) {
    static usb_dev_handle handles[64];
    static int opened;
    if (dev != &device || stateHas("gone") || opened == 64) {
        fail(-ENODEV, "could not open device");
        return NULL;
    }
    logCall("open %s/%s", dev->bus->dirname, dev->filename);
    return &handles[opened++];
}

int usb_close(usb_dev_handle* dev) {
    logCall("close");
    dev->claimed = -1;
    return 0;
}

/* The status every call on an open handle starts from: the device must be present. */
static int reach(usb_dev_handle* dev, const char* what) {
    if (!dev || dev->claimed < 0) return fail(-EBADF, what);
    return stateHas("gone") ? fail(-ENODEV, what) : 0;
}

int usb_set_configuration(usb_dev_handle* dev, int configuration) {
    logCall("set_configuration %d", configuration);
    return reach(dev, "could not set config");
}

int usb_detach_kernel_driver_np(usb_dev_handle* dev, int interface) {
    logCall("detach %d", interface);
    int rc = reach(dev, "could not detach kernel driver");
    return rc ? rc : fail(-ENODATA, "could not detach kernel driver from interface");
}

int usb_get_driver_np(usb_dev_handle* dev, int interface, char* name, unsigned int namelen) {
    (void)interface, (void)name, (void)namelen;
    int rc = reach(dev, "could not get bound driver");
    return rc ? rc : fail(-ENODATA, "could not get bound driver");
}

int usb_claim_interface(usb_dev_handle* dev, int interface) {
    logCall("claim %d", interface);
    int rc = reach(dev, "could not claim interface");
    if (!rc && stateHas("busy")) rc = fail(-EBUSY, "could not claim interface 0");
    if (!rc) dev->claimed = 1;
    return rc;
}

int usb_release_interface(usb_dev_handle* dev, int interface) {
    logCall("release %d", interface);
    int rc = reach(dev, "could not release intf");
    if (!rc) dev->claimed = 0;
    return rc;
}

int usb_set_altinterface(usb_dev_handle* dev, int alternate) {
    logCall("altinterface %d", alternate);
    return reach(dev, "could not set alt intf");
}

int usb_clear_halt(usb_dev_handle* dev, unsigned int ep) {
    logCall("clear_halt 0x%02x", ep);
    return reach(dev, "could not clear halt");
}

int usb_resetep(usb_dev_handle* dev, unsigned int ep) {
    (void)ep;
    return reach(dev, "could not reset ep");
}

int usb_reset(usb_dev_handle* dev) {
    return reach(dev, "could not reset");
}

int usb_control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                    char* bytes, int size, int timeout) {
    logCall("control 0x%02x 0x%02x 0x%04x 0x%04x %d %d", requesttype, request, value, index, size,
            timeout);
    int rc = reach(dev, "error sending control message");
    if (rc) return rc;
    if (request == 0xFF) return fail(-EPIPE, "error sending control message");
    if (requesttype & USB_ENDPOINT_IN) {
        int n = size < reportSize ? size : reportSize;
        memcpy(bytes, report, (size_t)n);
        return n;
    }
    reportSize = size < (int)sizeof report ? size : (int)sizeof report;
    memcpy(report, bytes, (size_t)reportSize);
    return size;
}

int usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    logCall("interrupt_read 0x%02x %d %d", ep, size, timeout);
    if (stateHas("slow")) {
        nanosleep(&(struct timespec){0, 300 * 1000 * 1000}, NULL);
        logCall("woke");
    }
    int rc = reach(dev, "error reading from interrupt endpoint");
    if (rc) return rc;
    if (ep != 0x81 || stateHas("timeout"))
        return fail(-ETIMEDOUT, "error reading from interrupt endpoint");
    int n = size < reportSize ? size : reportSize;
    memcpy(bytes, report, (size_t)n);
    return n;
}

/* What the simulated device does not do. */
int usb_interrupt_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
    (void)ep, (void)bytes, (void)size, (void)timeout;
    int rc = reach(dev, "error writing to interrupt endpoint");
    return rc ? rc : fail(-EPIPE, "error writing to interrupt endpoint");
}

int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
    return usb_interrupt_write(dev, ep, bytes, size, timeout);
}

int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    (void)ep, (void)bytes, (void)size, (void)timeout;
    int rc = reach(dev, "error reading from bulk endpoint");
    return rc ? rc : fail(-EPIPE, "error reading from bulk endpoint");
}

int usb_get_string(usb_dev_handle* dev, int index, int langid, char* buf, size_t buflen) {
    (void)index, (void)langid, (void)buf, (void)buflen;
    int rc = reach(dev, "error sending control message");
    return rc ? rc : fail(-EPIPE, "error sending control message");
}

int usb_get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) {
    return usb_get_string(dev, index, 0, buf, buflen);
}

int usb_get_descriptor_by_endpoint(usb_dev_handle* udev, int ep, unsigned char type,
                                   unsigned char index, void* buf, int size) {
    (void)ep;
    return usb_get_descriptor(udev, type, index, buf, size);
}

int usb_get_descriptor(usb_dev_handle* udev, unsigned char type, unsigned char index, void* buf,
                       int size) {
    (void)type, (void)index, (void)buf, (void)size;
    return usb_get_string(udev, 0, 0, NULL, 0);
}

char* usb_strerror(void) {
    return errorText;
}
