package com.vantel.rfid.testing;

import com.vantel.rfid.BluetoothUart;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;

/**
 * The application's side of a Bluetooth serial link, carried over the
 * simulated reader's pseudo-terminal instead of a socket. It records what
 * the library asks of it and can be told to misbehave.
 */
public final class PtyBluetooth implements BluetoothUart {
    /** How the next calls behave. */
    public enum Mode { NORMAL, FAIL, THROW }

    private final String path;
    private FileInputStream in;
    private FileOutputStream out;

    public volatile Mode openMode = Mode.NORMAL;
    public volatile Mode readMode = Mode.NORMAL;
    public volatile Mode writeMode = Mode.NORMAL;
    public volatile Mode flushMode = Mode.NORMAL;
    public volatile Mode closeMode = Mode.NORMAL;

    private final List<Integer> readRequests = new ArrayList<>();
    private final List<Integer> writeCounts = new ArrayList<>();

    public PtyBluetooth(String path) {
        this.path = path;
    }

    private static int act(Mode mode) {
        if (mode == Mode.THROW) {
            throw new IllegalStateException("the Bluetooth connection broke");
        }
        return mode == Mode.FAIL ? 5 : 0;
    }

    @Override
    public synchronized int open() {
        int r = act(openMode);
        if (r != 0) {
            return r;
        }
        try {
            in = new FileInputStream(path);
            out = new FileOutputStream(path);
            return 0;
        } catch (IOException e) {
            return -1;
        }
    }

    @Override
    public synchronized int close() {
        int r = act(closeMode);
        try {
            if (in != null) {
                in.close();
                out.close();
            }
        } catch (IOException e) {
            return -1;
        }
        in = null;
        out = null;
        return r;
    }

    @Override
    public synchronized int read(byte[] buffer, int count) {
        readRequests.add(count);
        if (act(readMode) != 0) {
            return -1;
        }
        try {
            int available = in.available();
            return available <= 0 ? 0 : in.read(buffer, 0, Math.min(count, available));
        } catch (IOException e) {
            return -1;
        }
    }

    @Override
    public synchronized int write(byte[] buffer, int count) {
        writeCounts.add(count);
        int r = act(writeMode);
        if (r != 0) {
            return r;
        }
        try {
            out.write(buffer, 0, count);
            return 0;
        } catch (IOException e) {
            return -1;
        }
    }

    @Override
    public synchronized int flush() {
        int r = act(flushMode);
        try {
            // A terminal cannot seek: what waits is read and dropped.
            byte[] drop = new byte[256];
            while (in != null && in.available() > 0) {
                in.read(drop, 0, Math.min(drop.length, in.available()));
            }
        } catch (IOException e) {
            return -1;
        }
        return r;
    }

    /** The counts the library asked to read since the last call, and forgets them. */
    public synchronized List<Integer> takeReadRequests() {
        List<Integer> r = new ArrayList<>(readRequests);
        readRequests.clear();
        return r;
    }

    /** The counts the library wrote since the last call, and forgets them. */
    public synchronized List<Integer> takeWriteCounts() {
        List<Integer> r = new ArrayList<>(writeCounts);
        writeCounts.clear();
        return r;
    }
}
