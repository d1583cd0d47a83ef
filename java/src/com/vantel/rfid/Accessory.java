package com.vantel.rfid;

import android.media.AudioManager;

/**
 * An accessory on the reader link, such as the PM2.5 sensor, described as
 * services holding properties.
 *
 * <p>Set the link in {@link #comType} ("uart", "bluetooth", a USB link or
 * "sound") and what it needs: the serial device's path in
 * {@link #uartDeviceName} for "uart", a {@link BluetoothUart} for
 * "bluetooth", the {@link #audioManager} and {@link #system_init()} for
 * "sound". Then {@link #accessory_open()} opens the accessory; it becomes
 * the current accessory of the process, which every method of this class,
 * {@link Service} and {@link Property} works on, until
 * {@link #accessory_close()}.
 *
 * <p>Methods return 0 (or a count or value) on success and a negative error
 * code on failure: -24 before an accessory is open, -75 for no such
 * service, -74 for no such property, -22 for an unknown control code.
 */
public class Accessory extends BluetoothHost {
    static {
        System.loadLibrary("vantelrfid");
    }

    /** The name of the link to the accessory, such as "uart" or "bluetooth". */
    public String comType;
    /** The serial device's path, for the "uart" link. */
    public static String uartDeviceName;
    /** The platform's audio manager, for the "sound" link; see {@link #system_init()}. */
    public static AudioManager audioManager;
    /** The output bytes of the last control call. */
    public byte[] buffer = new byte[0];

    /** An accessory object without a link name yet. */
    public Accessory() {
    }

    /**
     * An accessory object for a link.
     *
     * @param comType the link's name, such as "uart" or "bluetooth"
     */
    public Accessory(String comType) {
        this.comType = comType;
    }

    /**
     * Hands the library {@link #audioManager}, once; only "sound" needs it.
     *
     * @return 0; -60 when {@link #audioManager} is null
     */
    public native int system_init();

    /**
     * Forgets the current accessory; the link name becomes "sound".
     *
     * @return 0
     */
    public native int accessory_init();

    /**
     * Connects over {@link #comType} (unless the link is up) and opens the
     * accessory there, which becomes the current one.
     *
     * @return 0, or the error code
     */
    public native int accessory_open();

    /**
     * Closes the current accessory (the PM2.5 sensor halts) and forgets it.
     *
     * @return 0; -24 without one
     */
    public native int accessory_close();

    /**
     * The slot of the service with an id.
     *
     * @param serviceId the service's id (its type)
     * @return the slot, for {@link Service#serviceId}; -75 when absent
     */
    public native int accessory_getsvc(int serviceId);

    /**
     * The number of services.
     *
     * @return the count
     */
    public native int accessory_svccnt();

    /**
     * The combined id of a property.
     *
     * @param serviceId the service's id
     * @param propertyId the property's id
     * @return the combined id, for {@link Property#propertyId}; -74 when absent
     */
    public native int accessory_getppe(int serviceId, int propertyId);

    /**
     * The number of properties of a service.
     *
     * @param serviceId the service's id
     * @return the count; -75 without the service, -74 when it has none
     */
    public native int accessory_ppecnt(int serviceId);

    /**
     * The accessory's vendor.
     *
     * @return the text, or null without an accessory
     */
    public native String accessory_vendor();

    /**
     * The accessory's product name.
     *
     * @return the text, or null without an accessory
     */
    public native String accessory_product();

    /**
     * The accessory's type (257: the PM2.5 sensor).
     *
     * @return the type
     */
    public native int accessory_type();

    /**
     * The version the accessory reports.
     *
     * @return the version
     */
    public native int accessory_version();

    /**
     * The accessory's state: 1 ready, 3 halted, 4 ultra-low-power.
     *
     * @return the state
     */
    public native int accessory_state();

    /**
     * Copies the accessory's identifier.
     *
     * @param out receives {@link #accessory_uidlen()} bytes
     * @return 0; -24 when out is too short
     */
    public native int accessory_uid(byte[] out);

    /**
     * The length of the accessory's identifier.
     *
     * @return the length
     */
    public native int accessory_uidlen();

    /**
     * A control code: 1 closes the link, 2 reports the battery level
     * (0..100), 3 sets the power-off delay to args[0] seconds; empties
     * {@link #buffer}.
     *
     * @param code the control code
     * @param args the arguments (code 3 reads one)
     * @return the result; -22 for another code
     */
    public native int accessory_ctrl(int code, int[] args);

    /**
     * No byte-array control code is defined.
     *
     * @param code the control code
     * @param data its data
     * @return -22
     */
    public native int accessory_ctrl_ex1(int code, byte[] data);
}
