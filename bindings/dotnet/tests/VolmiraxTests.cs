// The C# file against the device simulator and libvolmirax.so.
//   mono VolmiraxTests.exe DEVICE_PATH HEADER SECOND_DEVICE_PATH
using System;
using System.ComponentModel;
using System.IO;
using System.Linq;
using System.Runtime.CompilerServices;
using System.Text;
using System.Threading;
using System.Text.RegularExpressions;
using Volmirax;

static class VolmiraxTests
{
    static int failures;

    static void Check(bool ok, string name, string detail = "")
    {
        if (!ok)
            ++failures;
        Console.WriteLine((ok ? "ok - " : "not ok - ") + name + (detail.Length > 0 ? ": " + detail : ""));
    }

    static VolmiraxException Throws(Action a)
    {
        try {
            a();
        } catch (VolmiraxException e) {
            return e;
        }
        return null;
    }

    // The bytes the port's simulated device received since the last look,
    // as hex (its control command "~" is left out).
    static string Heard(VolmiraxPort port)
    {
        byte[] d = port.Send(Encoding.ASCII.GetBytes("~ wire"), 5000, 20000, 500);
        return Encoding.ASCII.GetString(d, 2, d.Length - 2).Trim();
    }

    static bool Opens(string device)
    {
        try {
            new VolmiraxPort(device).Dispose();
            return true;
        } catch (Win32Exception) {
            return false;
        }
    }

    // A Dispose on another thread during a silent exchange: the call runs
    // to its own end (the abort goes to its own device), then the port
    // closes; a second device opened meanwhile hears nothing of it.
    static void DisposeDuringACall(string device, string second)
    {
        VolmiraxPort first = new VolmiraxPort(device);
        int code = 0;
        Thread caller = new Thread(() => {
            VolmiraxException e = Throws(() => first.Send(Encoding.ASCII.GetBytes("90"), 300, 300, 300));
            code = e == null ? 0 : e.Code;
        });
        caller.Start();
        Thread.Sleep(100);
        first.Dispose();
        using (VolmiraxPort other = new VolmiraxPort(second))
            Check(Heard(other) == "", "Dispose during a call: the second device heard nothing of it");
        caller.Join();
        Check(code == -110, "Dispose during a call: the call ran to its own end", code.ToString());
        Check(first.IsClosed && Opens(device), "Dispose during a call: the port is closed once the call returned");
    }

    // Two threads ejecting on one port: every call gets its own exchange,
    // none fails.
    static void TwoThreadsOnOnePort(string device)
    {
        using (VolmiraxPort port = new VolmiraxPort(device)) {
            int failed = 0;
            string first = "";
            ThreadStart eject = () => {
                for (int i = 0; i < 300; ++i) {
                    VolmiraxException e = Throws(() => port.Eject('0'));
                    if (e != null && Interlocked.Increment(ref failed) == 1)
                        first = e.Name ?? e.Code.ToString();
                }
            };
            Thread a = new Thread(eject), b = new Thread(eject);
            a.Start();
            b.Start();
            a.Join();
            b.Join();
            Check(failed == 0, "two threads on one port: 600 ejections, none failed", failed + " failed, first " + first);
        }
    }

    // Bad arguments get the framework's own exceptions, and nothing opens.
    static void BadArguments(string device)
    {
        string[] paths = { device + "\0ignored", "\0" + device };
        foreach (string path in paths) {
            bool refused = false;
            try {
                new VolmiraxPort(path).Dispose();
            } catch (ArgumentException) {
                refused = true;
            } catch (Win32Exception) {
            }
            Check(refused, "a path with a NUL inside is refused (ArgumentException)", path.Replace("\0", "\\0"));
        }
        Check(Opens(device), "a refused path opened nothing");
        using (VolmiraxPort port = new VolmiraxPort(device)) {
            bool nullRefused = false;
            try {
                port.Send(null);
            } catch (ArgumentNullException) {
                nullRefused = true;
            }
            Check(nullRefused, "Send(null) throws ArgumentNullException");
        }
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    static void OpenAndForget(string device)
    {
        new VolmiraxPort(device);
    }

    static int Main(string[] args)
    {
        string device = args[0];
        DisposeDuringACall(device, args[2]);
        TwoThreadsOnOnePort(device);
        BadArguments(device);
        // on a thread of its own, so that no stack that Mono's collector
        // scans conservatively still holds the port
        Thread forgetful = new Thread(() => OpenAndForget(device));
        forgetful.Start();
        forgetful.Join();
        for (int i = 0; i < 3; ++i) {
            GC.Collect();
            GC.WaitForPendingFinalizers();
        }
        Check(Opens(device), "a port never disposed is closed by the finalizer");

        using (VolmiraxPort port = new VolmiraxPort(device)) {
            byte[] version = port.Version();
            Check(version.SequenceEqual(Encoding.ASCII.GetBytes("VMX\0SIM 2")), "Version: the copied bytes, NUL inside, no padding",
                  BitConverter.ToString(version));
            byte[] data = port.Send(Encoding.ASCII.GetBytes("10"));
            Check(Encoding.ASCII.GetString(data) == "00CARD 4711", "Send: reply data, status first", Encoding.ASCII.GetString(data));
            port.Eject('0');
            port.Reset('0', 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30);
            port.Eot();
            Check(true, "Eject, Reset and Eot succeed");

            VolmiraxException e = Throws(() => port.Send(Encoding.ASCII.GetBytes("50")));
            Check(e != null && e.IsDeviceStatus && e.Code == 2 && Encoding.ASCII.GetString(e.ReplyData) == "02xy",
                  "Send: a negative reply throws its status code and data");
            e = Throws(() => port.Send(Encoding.ASCII.GetBytes("60")));
            Check(e != null && e.IsDeviceStatus && e.Code == -110, "Send: a device status of -110 is not taken for the library's");
            e = Throws(() => port.Send(Encoding.ASCII.GetBytes("90"), 100, 100, 100));
            Check(e != null && !e.IsDeviceStatus && e.Code == -110 && e.Name == "ERR_ACK_TIMEOUT", "Send: a library failure throws its code and name",
                  e == null ? "" : e.Message);

            try {
                new VolmiraxPort(device).Dispose();
                Check(false, "a port in use does not open twice");
            } catch (Win32Exception w) {
                Check(w.NativeErrorCode == 16, "a port in use does not open twice, with the system's reason (EBUSY)", w.NativeErrorCode.ToString());
            }
            port.Dispose();
            port.Dispose();
            e = Throws(() => port.Eject('0'));
            Check(port.IsClosed && e != null && e.Name == "ERR_NO_PORT", "Dispose twice; a closed port reports ERR_NO_PORT");
        }
        try {
            new VolmiraxPort("/dev/volmirax-no-such-port");
            Check(false, "a missing port does not open");
        } catch (Win32Exception w) {
            Check(w.NativeErrorCode == 2 && w.Message.Contains("/dev/volmirax-no-such-port did not open: No such file or directory"),
                  "a missing port does not open, with the system's reason and its words (ENOENT)", w.NativeErrorCode + " " + w.Message);
        }
        try {
            new VolmiraxPort(250);
            Check(false, "a missing COM port does not open");
        } catch (Win32Exception w) {
            Check(w.NativeErrorCode == 2 && w.Message.Contains("COM250 (/dev/ttyS249) did not open: No such file or directory"),
                  "a missing COM port is named with the device it tried, and the system's words", w.Message);
        }

        // the table is the header's
        string header = File.ReadAllText(args[1]);
        string codes = File.ReadAllText(Path.Combine(Path.GetDirectoryName(args[1]), "volmirax_codes.h"));
        int rows = 0;
        foreach (Match m in Regex.Matches(codes, "\\{(ERR_\\w+), \"(\\w+)\", \"([^\"]*)\"\\}")) {
            int code = int.Parse(Regex.Match(header, "#define " + m.Groups[1].Value + "\\s+\\(?(-?\\d+)").Groups[1].Value);
            var entry = ResultCodes.Table[code];
            Check(entry.Key == m.Groups[2].Value && entry.Value == m.Groups[3].Value, "table: " + m.Groups[2].Value);
            ++rows;
        }
        Check(rows == ResultCodes.Table.Count, "table: as many codes as the header");
        Console.WriteLine(failures == 0 ? "all passed" : failures + " failed");
        return failures == 0 ? 0 : 1;
    }
}
