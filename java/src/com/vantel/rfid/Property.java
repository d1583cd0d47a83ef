package com.vantel.rfid;

/**
 * A property of the current {@link Accessory}, named by its combined id
 * (service slot times 256 plus the property's slot in its service).
 *
 * <p>Methods return -74 when the current accessory has no such property.
 */
public class Property {
    static {
        System.loadLibrary("vantelrfid");
    }

    /** The combined id, from {@link Accessory#accessory_getppe(int, int)}. */
    public int propertyId;
    /** The error of the last {@link #property_getval()} (0: the value is good), or why a text method returned null. */
    public int error;

    /**
     * A property object for a combined id.
     *
     * @param propertyId the combined id
     */
    public Property(int propertyId) {
        this.propertyId = propertyId;
    }

    /**
     * The property's name.
     *
     * @return the name, or null with the reason in {@link #error}
     */
    public native String property_name();

    /**
     * The property's id.
     *
     * @return the id
     */
    public native int property_type();

    /**
     * Reads the property's value; {@link #error} tells a failure (-1.0) from
     * a reading of -1.0.
     *
     * @return the value; -74.0 when absent
     */
    public native float property_getval();

    /**
     * Writes the property's value.
     *
     * @param value the value
     * @return 0 or more; the error code
     */
    public native int property_setval(float value);

    /**
     * No property control code is defined.
     *
     * @param code the control code
     * @param arg its argument
     * @return -22
     */
    public native int property_ctrl(int code, int arg);

    /**
     * No property control code is defined.
     *
     * @param code the control code
     * @param data its data
     * @return -22
     */
    public native int property_ctrl_ex1(int code, byte[] data);
}
