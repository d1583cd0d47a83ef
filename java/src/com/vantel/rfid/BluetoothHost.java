package com.vantel.rfid;

/**
 * What the library calls to carry the "bluetooth" link: the five
 * bluetoothUart methods of the object that opened the link (a reader or an
 * accessory), which delegate to the application's connection. The link is
 * the process's one link, so the connection is too.
 */
public abstract class BluetoothHost {
    private static volatile BluetoothUart bluetoothUart;

    /** For the subclasses. */
    protected BluetoothHost() {
    }

    /**
     * Lends the library the application's Bluetooth connection for the
     * "bluetooth" link.
     *
     * @param transport the connection, or null to withdraw it
     */
    public static void setBluetoothUart(BluetoothUart transport) {
        bluetoothUart = transport;
    }

    /**
     * Called by the library to open the Bluetooth connection; delegates to
     * the {@link BluetoothUart} in use. Subclasses may carry the link
     * themselves by overriding the five bluetoothUart methods.
     *
     * @return 0 when open; -1 without a connection
     */
    public int bluetoothUartOpen() {
        BluetoothUart t = bluetoothUart;
        return t == null ? -1 : t.open();
    }

    /**
     * Called by the library to close the Bluetooth connection.
     *
     * @return 0 when closed; -1 without a connection
     */
    public int bluetoothUartClose() {
        BluetoothUart t = bluetoothUart;
        return t == null ? -1 : t.close();
    }

    /**
     * Called by the library to take bytes that have arrived.
     *
     * @param buffer where to put them
     * @param count the most bytes wanted
     * @return the count placed, 0 or less for none; -1 without a connection
     */
    public int bluetoothUartRead(byte[] buffer, int count) {
        BluetoothUart t = bluetoothUart;
        return t == null ? -1 : t.read(buffer, count);
    }

    /**
     * Called by the library to send bytes.
     *
     * @param buffer the bytes
     * @param count how many
     * @return 0 when sent; -1 without a connection
     */
    public int bluetoothUartWrite(byte[] buffer, int count) {
        BluetoothUart t = bluetoothUart;
        return t == null ? -1 : t.write(buffer, count);
    }

    /**
     * Called by the library to drop unread bytes.
     *
     * @return 0 on success; -1 without a connection
     */
    public int bluetoothUartFlush() {
        BluetoothUart t = bluetoothUart;
        return t == null ? -1 : t.flush();
    }
}
