package com.vantel.rfid;

/**
 * A service of the current {@link Accessory}, named by its slot.
 *
 * <p>Methods return -75 when the current accessory has no service in
 * {@link #serviceId}'s slot.
 */
public class Service {
    static {
        System.loadLibrary("vantelrfid");
    }

    /** The service's slot, from {@link Accessory#accessory_getsvc(int)}. */
    public int serviceId;
    /** Why the last text method returned null. */
    public int error;

    /**
     * A service object for a slot.
     *
     * @param serviceId the slot
     */
    public Service(int serviceId) {
        this.serviceId = serviceId;
    }

    /**
     * The service's name.
     *
     * @return the name, or null with the reason in {@link #error}
     */
    public native String service_name();

    /**
     * The service's id.
     *
     * @return the id
     */
    public native int service_type();

    /**
     * The combined id of one of its properties.
     *
     * @param propertyId the property's id
     * @return the combined id; -74 when absent
     */
    public native int service_getppe(int propertyId);

    /**
     * The number of its properties.
     *
     * @return the count
     */
    public native int service_ppecnt();

    /**
     * No service control code is defined.
     *
     * @param code the control code
     * @param arg its argument
     * @return -22
     */
    public native int service_ctrl(int code, int arg);

    /**
     * No service control code is defined.
     *
     * @param code the control code
     * @param data its data
     * @return -22
     */
    public native int service_ctrl_ex1(int code, byte[] data);
}
