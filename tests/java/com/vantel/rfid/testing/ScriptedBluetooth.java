package com.vantel.rfid.testing;

import com.vantel.rfid.BluetoothUart;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.List;

/**
 * A Bluetooth connection whose reads hand out scripted parts, one per call
 * (nothing once the script is done), and that records when each read came.
 */
public final class ScriptedBluetooth implements BluetoothUart {
    private static final class Part {
        final byte[] bytes;
        final int claimed;

        Part(byte[] bytes, int claimed) {
            this.bytes = bytes;
            this.claimed = claimed;
        }
    }

    private final Deque<Part> script = new ArrayDeque<>();
    private final List<Integer> requests = new ArrayList<>();
    private final List<Long> readTimes = new ArrayList<>();

    /** The next read hands over these bytes. */
    public synchronized ScriptedBluetooth then(byte[] bytes) {
        script.add(new Part(bytes, bytes.length));
        return this;
    }

    /** The next read hands over these bytes but claims another count. */
    public synchronized ScriptedBluetooth thenClaiming(byte[] bytes, int claimed) {
        script.add(new Part(bytes, claimed));
        return this;
    }

    @Override
    public int open() {
        return 0;
    }

    @Override
    public int close() {
        return 0;
    }

    @Override
    public synchronized int read(byte[] buffer, int count) {
        readTimes.add(System.nanoTime());
        requests.add(count);
        Part p = script.poll();
        if (p == null) {
            return 0;
        }
        System.arraycopy(p.bytes, 0, buffer, 0, Math.min(p.bytes.length, buffer.length));
        return p.claimed;
    }

    @Override
    public int write(byte[] buffer, int count) {
        return 0;
    }

    @Override
    public int flush() {
        return 0;
    }

    public synchronized List<Integer> requests() {
        return new ArrayList<>(requests);
    }

    /** System.nanoTime() of each read call. */
    public synchronized List<Long> readTimes() {
        return new ArrayList<>(readTimes);
    }
}
