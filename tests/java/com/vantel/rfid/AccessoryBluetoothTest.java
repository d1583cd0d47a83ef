package com.vantel.rfid;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantel.rfid.testing.PtyBluetooth;
import com.vantel.rfid.testing.SimulatedReader;
import org.junit.jupiter.api.Test;

/**
 * The PM2.5 sensor over the "bluetooth" link: the application's connection
 * (here carried over the simulator's pseudo-terminal) lent to the library
 * through the accessory object's bluetoothUart methods.
 */
class AccessoryBluetoothTest {
    @Test
    void theWholeLifeCycleRunsOverTheApplicationsConnection() throws Exception {
        try (SimulatedReader sim = new SimulatedReader("--accessory", "pm25", "--seed", "5")) {
            PtyBluetooth link = new PtyBluetooth(sim.path());
            Accessory.setBluetoothUart(link);
            Accessory acc = new Accessory("bluetooth");
            assertEquals(0, acc.accessory_open());
            assertEquals(257, acc.accessory_type());
            Property all = new Property(acc.accessory_getppe(1, 266));
            assertEquals(0.0f, all.property_getval());
            Property humidity = new Property(acc.accessory_getppe(1, 258));
            float h = humidity.property_getval();
            assertEquals(0, humidity.error);
            assertTrue(h >= 0 && h <= 100, "humidity " + h);
            assertEquals(0, acc.accessory_close());
            assertTrue(sim.control("sensor show").startsWith("ok power halted"));
            assertEquals(0, acc.accessory_ctrl(1, null), "the link's close");
            Accessory.setBluetoothUart(null);
        }
    }
}
