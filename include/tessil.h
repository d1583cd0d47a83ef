/* The library's one process-wide state record. */
#ifndef VR_TESSIL_H
#define VR_TESSIL_H

#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <termios.h>
#include "ringbuf.h"
#include "suart_state.h"
#include "vr_api.h"

VR_BEGIN_DECLS

struct picc;

/* Device operation table: the seven slots every link driver fills in its
 * init function. Contract of each slot:
 *  open()            0, or -1 with errno set (-10 when the device does
 *                    not open). May block briefly.
 *  close()           0, or -1 (errno -11).
 *  flush(kind)       kind 1 input, 2 output, 3 both; 0, or -1 (errno -24
 *                    for another kind, -12 when the device refuses).
 *  drain()           0, or -1 (errno -22 where unsupported).
 *  ioctl(cmd, arg)   driver-specific commands; arg points to a 4-byte
 *                    integer for the setters.
 *  read(buf, n)      blocks until n bytes arrived or the driver's byte
 *                    time-out passed; n, or a negative result.
 *  write(buf, n)     n (or 0) when all n bytes went out, else a negative
 *                    result (-1 with errno -13, or -13 itself).
 * No slot takes a lock; the caller (the virtual port) keeps one exchange
 * at a time. The caller owns the buffers. */
typedef struct vr_dev_ops {
    int (*open)(void);
    int (*close)(void);
    int (*flush)(int kind);
    int (*drain)(void);
    int (*ioctl)(int command, void *argument);
    int (*read)(uint8_t *buffer, int length);
    int (*write)(const uint8_t *buffer, int length);
} vr_dev_ops;

/* Serial driver attributes. */
typedef struct uart_attrib {
    uint32_t baud;     /* default 115200 */
    uint8_t databits;  /* default 8 */
    uint8_t stopbits;  /* default 1 */
    uint8_t parity;    /* default 3 */
    uint8_t flow;      /* 1 software, 2 hardware, 3 none (default) */
    struct termios tio; /* the device's terminal settings */
    /* Bytes read ahead from the device and not yet handed out; a flush of
     * the input drops them with the kernel's queue. */
    uint8_t rx[256];
    uint16_t rx_start;
    uint16_t rx_end;
    uint8_t rx_trickle;  /* the last read took all the device had: more is on the wire */
} uart_attrib;

/* USB driver attributes, shared by the four USB links (usbhid.h). The
 * libusb objects are kept as opaque pointers; all of them are empty while
 * the port is closed. */
typedef struct usb_attrib {
    void *context;           /* libusb context of the open device */
    void *device;            /* libusb device reference */
    void *handle;            /* libusb device handle */
    uint16_t vendor_id;      /* the attachment's ids, set by its init */
    uint16_t product_id;
    uint16_t configuration;  /* configuration selected at open: 1 */
    uint8_t bus;             /* bus number and address, set at open */
    uint8_t address;
    uint8_t max_packet_size[2]; /* out and in report sizes, set at open */
    int32_t fd;              /* descriptor handed in by the host, or -1 */
    uint8_t kernel_driver_detached; /* interface 0 was taken from a kernel
                                       driver, which close gives it back */
    char *manufacturer;      /* the device's strings (at most 255 bytes) */
    char *product;
    char *serial;
    uint8_t out_report[512];
    uint8_t in_report[512];
    ringbuf rx;              /* bytes from the device not yet handed out */
    ringbuf tx;              /* reports waiting to be sent */
} usb_attrib;

/* Bluetooth bridge state: the Java VM, the host object that carries the
 * link with its class and method identifiers, and the two host byte arrays
 * the bytes travel through. JNI handles, kept as opaque pointers here; the
 * references are global references. */
typedef struct android_bluetooth {
    void *vm;             /* JavaVM of the process, stored by the load hook */
    void *env;            /* JNIEnv seen at init (environments are fetched
                             per call; this one is only a record) */
    void *reader_class;   /* class of rfidreader_obj */
    void *rfidreader_obj; /* the host object, kept by the first open */
    void *mid_open;
    void *mid_close;
    void *mid_read;
    void *mid_write;
    void *mid_flush;
    void *write_buffer;   /* byte[2048] */
    void *read_buffer;    /* byte[2048] */
} android_bluetooth;

/* The host's audio manager (android.media.AudioManager), handed over by
 * the host classes' system_init: a global reference, kept for the life of
 * the process. */
typedef struct android_audio_manager {
    void *object;
} android_audio_manager;

/* Communication port sub-record. */
typedef struct s_com_t {
    int32_t fd;          /* serial driver's descriptor */
    char *com_type;      /* own copy of the communication type name */
    int8_t status;       /* port state, under status_lock: 0 closed,
                            0x33 open, 0x55 removed, 0x77 to be pinged */
    char *version;       /* own copy of "1.0.0" */
    char *dev_name;      /* device name set by the driver's init */
    int8_t protocol;     /* link protocol number used for framing */
    int32_t timeout;     /* default reply time-out, milliseconds */
    uint8_t enc_on;      /* link data encryption on */
    uint8_t enc_reply;   /* last protocol-3 reply came with head 0x42 */
    uint8_t enc_key[8];  /* link key */
    vr_dev_ops ops;      /* the driver's operations */
    union {
        uart_attrib uart;
        usb_attrib usb;
    } attrib;
    suart_state suart;              /* audio modem state */
    android_bluetooth android_bluetooth; /* Bluetooth bridge state */
    android_audio_manager audio_manager; /* the host's audio manager */
} s_com_t;

/* Card type init table: one initialiser per card type, then the reader
 * command initialiser. An empty entry is a type the registered family
 * does not offer. */
typedef int (*picc_init_fn)(struct picc *record);
typedef struct picc_init_table {
    picc_init_fn ultralight;
    picc_init_fn ultralight_c;
    picc_init_fn classic_1k;
    picc_init_fn classic_4k;
    picc_init_fn identity;
    picc_init_fn id_sam;
    picc_init_fn iso14443a;
    picc_init_fn cpucard;
    picc_init_fn cidcard;
    picc_init_fn pboc;
    int (*misc_init)(int family);
} picc_init_table;

/* Communication driver init table; each init takes the mode and the list of
 * the remaining arguments of virt_com_open. */
typedef int (*com_init_fn)(int mode, va_list list);
typedef struct com_init_table {
    com_init_fn uart;
    com_init_fn usbhid;
    com_init_fn ch340g;
    com_init_fn ch9326;
    com_init_fn pdiusbd12;
    com_init_fn bluetooth;
} com_init_table;

/* Reader operation table, filled by misc_init for the registered family.
 * Each public pcd_* function calls exactly its own slot; an empty slot
 * makes it fail with -22. Integer arguments arrive as signed bytes. The
 * slots run one reader exchange on the caller's thread and take no lock. */
typedef struct pcd_ops {
    int (*set_picc_protocol)(signed char protocol);
    int (*antenna_open)(void);
    int (*antenna_close)(void);
    int (*set_baud)(signed char baud);
    int (*set_protocol)(signed char protocol);
    unsigned char *(*hard_model)(void);
    int (*download_passwd)(signed char index, signed char type,
                           const unsigned char *key, signed char length);
    int (*set_buzzer)(signed char first, signed char second);
    int (*set_buzzer_ex)(signed char first, signed char second,
                         uint16_t value, signed char last);
    int (*set_led)(signed char first, signed char second);
    int (*set_ledr)(signed char first, signed char second);
    int (*get_mid)(unsigned char *out);
    int (*set_mid)(const unsigned char *in);
    int (*get_power)(void *ignored);
    int (*set_ulc_key)(const unsigned char *key);
    int (*set_dataenc_key)(const unsigned char *key);
    int (*get_jack)(unsigned char *out);
    int (*set_validcard)(const unsigned char *in);
    int (*get_validcard)(unsigned char *out);
    int (*set_msn)(const unsigned char *in);
    int (*get_msn)(unsigned char *out);
    int (*get_otp_sn)(unsigned char *out);
    int (*set_package_max_size)(signed char size);
    int (*get_package_max_size)(void);
    int (*set_uart_mode)(signed char mode);
    int (*get_uart_mode)(void);
    int (*set_uart_intern_delay)(signed char delay);
    int (*get_uart_intern_delay)(void);
    int (*get_firmware_version)(unsigned char *out);
    int (*set_brightness)(signed char brightness);
    int (*set_date)(const unsigned char *in);
    int (*set_lcdstr)(const char *text);
    int (*write_eeprom)(int address, int length, const unsigned char *in);
    int (*read_eeprom)(int address, int length, unsigned char *out);
    int (*set_poweroff_delay)(uint8_t delay);
    int (*etc_sam_reset)(unsigned char *out);
} pcd_ops;

/* Open-card list header. */
typedef struct piccs_list {
    uint32_t count;
    struct picc *head;
} piccs_list;

#define VR_CONNECT_MARK_SIZE 37

/* The global state record. All-zero is the initial state: nothing
 * registered, port closed, every mutex unlocked (glibc's statically
 * initialised mutex is all zero). */
typedef struct tessil_t {
    piccs_list piccs;
    s_com_t s_com;
    pthread_mutex_t status_lock;   /* guards s_com.status only */
    picc_init_table picc_init_tab;
    com_init_table com_init_tab;
    pcd_ops pcd;
    pthread_mutex_t owner_lock;    /* guards owner_thread, owner_held */
    pthread_t owner_thread;
    uint32_t owner_held;
    char connect_mark[VR_CONNECT_MARK_SIZE];
    uint8_t connect_mode;
    uint32_t family;               /* 0xAA first, 0x55 second, 0 none */
    pthread_mutex_t api_lock;      /* held by the public card calls */
} tessil_t;

VR_API extern tessil_t tessil;

/* Reader family codes stored in tessil.family. */
enum { VR_FAMILY_FIRST = 0xAA, VR_FAMILY_SECOND = 0x55 };

VR_END_DECLS

#endif
