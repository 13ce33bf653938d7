// The C# file against the device simulator and libvolmirax.so.
//   mono VolmiraxTests.exe DEVICE_PATH HEADER
using System;
using System.ComponentModel;
using System.IO;
using System.Linq;
using System.Text;
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

    static int Main(string[] args)
    {
        string device = args[0];
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
            Check(w.NativeErrorCode == 2, "a missing port does not open, with the system's reason (ENOENT)", w.NativeErrorCode.ToString());
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
