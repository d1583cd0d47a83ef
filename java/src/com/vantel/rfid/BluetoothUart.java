package com.vantel.rfid;

/**
 * The Bluetooth serial connection an application lends to the library for
 * the "bluetooth" link. The application owns the connection (for example an
 * RFCOMM socket); the library only moves its frames through these calls.
 * Install one with {@link BluetoothHost#setBluetoothUart(BluetoothUart)} (as
 * {@code RFIDReader.setBluetoothUart} or {@code Accessory.setBluetoothUart}).
 *
 * <p>The library calls these methods on whichever thread runs a card
 * operation, one call at a time. A method that throws counts as failed.
 */
public interface BluetoothUart {
    /**
     * Opens the connection.
     *
     * @return 0 when it is open, anything else when it cannot be
     */
    int open();

    /**
     * Closes the connection.
     *
     * @return 0 when it is closed
     */
    int close();

    /**
     * Hands over bytes that have arrived, without waiting for more. The
     * library polls again shortly when nothing has arrived yet.
     *
     * @param buffer where to put the bytes, from its start
     * @param count the most bytes wanted
     * @return the count of bytes placed (at most {@code count}); 0 or less
     *     when none are there
     */
    int read(byte[] buffer, int count);

    /**
     * Sends bytes.
     *
     * @param buffer the bytes, from its start
     * @param count how many to send
     * @return 0 when all of them were sent
     */
    int write(byte[] buffer, int count);

    /**
     * Drops bytes that have arrived and not been read.
     *
     * @return 0 on success
     */
    int flush();
}
