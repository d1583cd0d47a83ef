package com.vantel.rfid.testing;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * The simulator program (vantel-rfid-sim, path in the system property
 * vr.sim) on a pseudo-terminal, driven through its control commands.
 */
public final class SimulatedReader implements AutoCloseable {
    private final Process process;
    private final BufferedReader out;
    private final Writer in;
    private final String path;

    /**
     * Starts the simulator.
     *
     * @param options its command-line options, such as "--card", "mifare_s50:11223344"
     */
    public SimulatedReader(String... options) throws IOException {
        String program = System.getProperty("vr.sim");
        if (program == null) {
            throw new IllegalStateException("the system property vr.sim names the simulator program");
        }
        List<String> command = new ArrayList<>();
        command.add(program);
        command.addAll(Arrays.asList(options));
        process = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.DISCARD).start();
        out = new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
        in = new OutputStreamWriter(process.getOutputStream(), StandardCharsets.UTF_8);
        path = out.readLine();
        if (path == null) {
            throw new IOException("the simulator did not start");
        }
    }

    /** The pseudo-terminal the reader answers on. */
    public String path() {
        return path;
    }

    /**
     * Sends one control command and returns its answer's first line.
     */
    public String control(String command) throws IOException {
        in.write(command + "\n");
        in.flush();
        String answer = out.readLine();
        if (answer == null) {
            throw new IOException("the simulator ended");
        }
        return answer;
    }

    @Override
    public void close() {
        try {
            in.write("quit\n");
            in.flush();
        } catch (IOException gone) {
            // it ended already
        }
        try {
            if (!process.waitFor(5, TimeUnit.SECONDS)) {
                process.destroyForcibly().waitFor();
            }
        } catch (InterruptedException e) {
            process.destroyForcibly();
            Thread.currentThread().interrupt();
        }
    }
}
