package com.vantel.rfid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantel.rfid.testing.SimulatedReader;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * Accessory, Service and Property against the simulated PM2.5 sensor on a
 * serial line: the life cycle of the current accessory, look-ups by id and
 * by index, readings and settings, control codes and the codes for absent
 * services and properties.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class AccessoryNativesTest {
    static final int MONITOR = 1;
    static final int CONTROL = 2;
    static final int PM25 = 259;
    static final int STATE = 515;

    SimulatedReader sim;
    Accessory acc;

    @BeforeAll
    void startSensor() throws Exception {
        sim = new SimulatedReader("--accessory", "pm25");
        Accessory.uartDeviceName = sim.path();
        acc = new Accessory("uart");
    }

    @AfterAll
    void stop() {
        acc.accessory_close();
        acc.accessory_ctrl(1, null);
        sim.close();
    }

    @Test
    @Order(1)
    void beforeOpeningNothingIsCurrent() {
        assertEquals(0, acc.accessory_init());
        for (int rc : new int[] {acc.accessory_svccnt(), acc.accessory_type(), acc.accessory_state(),
                acc.accessory_getsvc(MONITOR), acc.accessory_getppe(MONITOR, PM25), acc.accessory_ppecnt(MONITOR),
                acc.accessory_uid(new byte[8]), acc.accessory_close()}) {
            assertEquals(-24, rc);
        }
        assertEquals(-10, acc.accessory_ctrl(2, null), "the battery asked with no link");
        assertNull(acc.accessory_vendor());
        assertNull(acc.accessory_product());
        Service svc = new Service(0);
        assertEquals(-75, svc.service_type());
        assertEquals(-75, svc.service_ctrl(1, 1));
        assertNull(svc.service_name());
        assertEquals(-75, svc.error);
        Property ppe = new Property(0x0002);
        assertEquals(-74, ppe.property_type());
        assertEquals(-74.0f, ppe.property_getval());
        assertEquals(-74, ppe.property_setval(1.0f));
        assertEquals(-74, ppe.property_ctrl_ex1(1, new byte[1]));
    }

    @Test
    @Order(2)
    void openDescribesTheSensor() {
        assertEquals(0, acc.accessory_open());
        assertEquals("dravimo,shenzhen", acc.accessory_vendor());
        assertEquals("PM2.5/10 Sensor", acc.accessory_product());
        assertEquals(257, acc.accessory_type());
        assertEquals(0x0102, acc.accessory_version());
        assertEquals(1, acc.accessory_state());
        assertEquals(8, acc.accessory_uidlen());
        byte[] uid = new byte[8];
        assertEquals(0, acc.accessory_uid(uid));
        assertArrayEquals(new byte[] {0x50, 0x4D, 0x32, 0x35, 0, 0, 0, 1}, uid);
        assertEquals(-24, acc.accessory_uid(new byte[7]), "the uid went past a short array");

        assertEquals(2, acc.accessory_svccnt());
        assertEquals(1, acc.accessory_getsvc(CONTROL));
        assertEquals(-75, acc.accessory_getsvc(9));
        assertEquals(10, acc.accessory_ppecnt(MONITOR));
        assertEquals(-75, acc.accessory_ppecnt(9));
        assertEquals(0x0002, acc.accessory_getppe(MONITOR, PM25));
        assertEquals(0x0102, acc.accessory_getppe(CONTROL, STATE));
        assertEquals(-74, acc.accessory_getppe(CONTROL, PM25));

        Service control = new Service(acc.accessory_getsvc(CONTROL));
        assertEquals("Control Service", control.service_name());
        assertEquals(CONTROL, control.service_type());
        assertEquals(3, control.service_ppecnt());
        assertEquals(0x0102, control.service_getppe(STATE));
        assertEquals(-74, control.service_getppe(PM25));
        assertEquals(-22, control.service_ctrl(1, 1));
        assertEquals(-22, control.service_ctrl_ex1(1, null));
        Service absent = new Service(2);
        assertEquals(-75, absent.service_ppecnt());
        absent.serviceId = -1;
        assertTrue(absent.service_type() < 0);
    }

    @Test
    @Order(3)
    void propertiesReadAndWriteTheSensor() throws Exception {
        // The first property of the second service.
        Property first = new Property(0x0100);
        assertEquals("Transform Time", first.property_name());
        assertEquals(513, first.property_type());
        assertEquals(0, first.property_setval(300.0f));
        assertEquals(300.0f, first.property_getval());
        assertEquals(0, first.error);
        assertEquals(-22, first.property_ctrl(1, 1));

        Property pm25 = new Property(acc.accessory_getppe(MONITOR, PM25));
        assertEquals("PM2.5 Agronomist", pm25.property_name());
        float value = pm25.property_getval();
        assertEquals(0, pm25.error);
        assertTrue(value > 0 && value <= 1000, "PM2.5 of " + value);
        assertEquals("ok", sim.control("sensor spoil 03 12.5ug"));
        assertEquals(-1.0f, pm25.property_getval());
        assertEquals(-16, pm25.error);
        assertEquals(-22, pm25.property_setval(1.0f), "a reading took a value");

        Property missing = new Property(0x000A);
        assertNull(missing.property_name());
        assertEquals(-74, missing.error);
    }

    @Test
    @Order(4)
    void stateStopsReadingsUntilTheSensorWakes() {
        Property state = new Property(acc.accessory_getppe(CONTROL, STATE));
        Property pm25 = new Property(acc.accessory_getppe(MONITOR, PM25));
        assertEquals(0, state.property_setval(3.0f));
        assertEquals(3, acc.accessory_state());
        assertEquals(-1.0f, pm25.property_getval());
        assertEquals(-21, pm25.error);
        assertEquals(0, state.property_setval(1.0f));
        assertTrue(pm25.property_getval() > 0);
        assertEquals(0, pm25.error);
        assertEquals(-24, state.property_setval(5.0f));
    }

    @Test
    @Order(5)
    void controlCodesEmptyTheBuffer() {
        acc.buffer = new byte[] {1, 2, 3};
        assertEquals(0, acc.accessory_ctrl(3, new int[] {5}));
        assertEquals(0, acc.buffer.length);
        assertEquals(75, acc.accessory_ctrl(2, null));
        assertEquals(-24, acc.accessory_ctrl(3, new int[0]));
        assertEquals(-22, acc.accessory_ctrl(4, null));
        assertEquals(-22, acc.accessory_ctrl_ex1(1, new byte[2]));
    }

    @Test
    @Order(6)
    void closingForgetsTheAccessory() throws Exception {
        assertEquals(0, acc.accessory_close());
        assertTrue(sim.control("sensor show").startsWith("ok power halted"));
        assertEquals(-24, acc.accessory_svccnt());
        assertEquals(-74.0f, new Property(0x0002).property_getval());
        // The link stays up: opening again needs no new connection.
        assertEquals(0, acc.accessory_open());
        assertEquals(2, acc.accessory_svccnt());
    }
}
