// VOLMIRAX for .NET: add this one file to your project.
//
// Declarations of the library's exports with their exact marshalling, and
// VolmiraxPort, a thin IDisposable wrapper that turns result codes into
// exceptions. The same source serves a 32-bit or 64-bit Windows process
// (VOLMIRAX.dll, stdcall) and Linux (Mono and .NET find libvolmirax.so).
using System;
using System.Collections.Generic;
using System.ComponentModel;
using System.Runtime.InteropServices;
using Microsoft.Win32.SafeHandles;

namespace Volmirax
{
    /// <summary>The exports of the library, declared exactly.</summary>
    public static class NativeMethods
    {
        // "volmirax" is VOLMIRAX.dll on Windows (names are not case-sensitive
        // there) and libvolmirax.so on Linux. A kiosk with only the runtime
        // package has libvolmirax.so.1 alone (the unversioned name comes with
        // the development package): Mono finds it through the dll map in
        // Volmirax.dll.config, copied beside the assembly that holds this
        // file (as YourApp.exe.config when the file is compiled into it).
        const string Library = "volmirax";

        /// <summary>The largest run of reply data that SendCmd hands back.</summary>
        public const int MaxReplyData = 993;
        /// <summary>The size of a version buffer: 253 bytes of data and a zero.</summary>
        public const int VersionBufferSize = 254;

        [DllImport(Library, CallingConvention = CallingConvention.StdCall, SetLastError = true)]
        public static extern IntPtr OpenComm(int port, int baud);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, SetLastError = true)]
        public static extern IntPtr OpenCommPath([MarshalAs(UnmanagedType.LPStr)] string device, int baud);  // Linux only

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int CloseComm(ref IntPtr port);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int SendCmd(IntPtr port, byte[] cmd, uint cmdLen, [Out] byte[] replyData,
                                         ref uint replyLen, int ackTimeout, int replyTimeout, int eotTimeout);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int SendEot(IntPtr port, int eotTimeout);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int ReSet(IntPtr port, int pm, int d1, int d2, int d3, int d4, int d5, int d6, int d7);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int EjectCard(IntPtr port, int pm);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int GetMachineVersion(IntPtr port, [In, Out] byte[] version);

        // The same exports over a PortHandle: the runtime holds a reference
        // on the handle for the time of each call, so a Dispose on another
        // thread takes effect when the call has returned, and a port that
        // is never disposed is closed by the handle's finalizer.
        [DllImport(Library, EntryPoint = "OpenComm", CallingConvention = CallingConvention.StdCall, SetLastError = true)]
        public static extern PortHandle OpenPort(int port, int baud);

        [DllImport(Library, EntryPoint = "OpenCommPath", CallingConvention = CallingConvention.Cdecl, SetLastError = true)]
        public static extern PortHandle OpenPortPath([MarshalAs(UnmanagedType.LPStr)] string device, int baud);  // Linux only

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int SendCmd(PortHandle port, byte[] cmd, uint cmdLen, [Out] byte[] replyData,
                                         ref uint replyLen, int ackTimeout, int replyTimeout, int eotTimeout);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int SendEot(PortHandle port, int eotTimeout);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int ReSet(PortHandle port, int pm, int d1, int d2, int d3, int d4, int d5, int d6, int d7);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int EjectCard(PortHandle port, int pm);

        [DllImport(Library, CallingConvention = CallingConvention.StdCall)]
        public static extern int GetMachineVersion(PortHandle port, [In, Out] byte[] version);
    }

    /// <summary>
    /// An open port as the runtime keeps it: released (CloseComm) once no
    /// call is using it, on Dispose or, for a port that was never disposed,
    /// by the finalizer.
    /// </summary>
    public sealed class PortHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        PortHandle() : base(true) { }

        protected override bool ReleaseHandle()
        {
            IntPtr port = handle;
            return NativeMethods.CloseComm(ref port) != 0;
        }
    }

    /// <summary>The library's result codes, their names and meanings (the table of volmirax_codes.h).</summary>
    public static class ResultCodes
    {
        public static readonly IReadOnlyDictionary<int, KeyValuePair<string, string>> Table =
            new Dictionary<int, KeyValuePair<string, string>>
            {
                { 0, Entry("OK", "success") },
                { -101, Entry("ERR_NO_PORT", "the port handle is null") },
                { -102, Entry("ERR_SET_TIMEOUTS", "setting the port's time-outs failed") },
                { -103, Entry("ERR_SETUP_QUEUES", "setting the driver's queue sizes failed") },
                { -104, Entry("ERR_WRITE", "the write call failed") },
                { -105, Entry("ERR_WRITE_SHORT", "fewer bytes were written than asked") },
                { -106, Entry("ERR_READ", "the read call failed") },
                { -107, Entry("ERR_READ_SHORT", "fewer bytes were read than asked") },
                { -108, Entry("ERR_LINE_SETTINGS", "reading, building or applying the line settings failed") },
                { -110, Entry("ERR_ACK_TIMEOUT", "no acknowledgement within the acknowledgement time-out") },
                { -111, Entry("ERR_REPLY_TIMEOUT", "the reply was not complete within the reply time-out") },
                { -112, Entry("ERR_EOT_TIMEOUT", "the echo of the abort sequence did not arrive in time") },
                { -113, Entry("ERR_NO_ACK", "the acknowledgement does not start with ACK") },
                { -114, Entry("ERR_ARGUMENT", "an argument is missing or invalid") },
                { -115, Entry("ERR_EOT_ECHO", "the echo of the abort sequence is wrong") },
                { -116, Entry("ERR_BCC", "the reply's block check character is wrong, or the reply is shorter than 6 or longer than 999 bytes") },
                { -117, Entry("ERR_ECHO", "the reply does not echo the command code and parameter code") },
            };

        static KeyValuePair<string, string> Entry(string name, string meaning)
        {
            return new KeyValuePair<string, string>(name, meaning);
        }
    }

    /// <summary>A failed call. Code is its result code: one of the library's
    /// (IsDeviceStatus false; Name and Meaning from the table) or the status
    /// code of a negative device reply (IsDeviceStatus true).</summary>
    public class VolmiraxException : Exception
    {
        public int Code { get; private set; }
        public bool IsDeviceStatus { get; private set; }
        public string Name { get; private set; }
        public string Meaning { get; private set; }
        /// <summary>The reply data, status bytes first, of a negative reply to Send; else null.</summary>
        public byte[] ReplyData { get; private set; }

        public VolmiraxException(int code, bool isDeviceStatus, byte[] replyData = null)
            : base(Describe(code, isDeviceStatus))
        {
            Code = code;
            IsDeviceStatus = isDeviceStatus;
            ReplyData = replyData;
            KeyValuePair<string, string> entry;
            if (!isDeviceStatus && ResultCodes.Table.TryGetValue(code, out entry)) {
                Name = entry.Key;
                Meaning = entry.Value;
            } else {
                Name = "DEVICE_STATUS";
                Meaning = "status code reported by the device in a negative reply";
            }
        }

        static string Describe(int code, bool isDeviceStatus)
        {
            KeyValuePair<string, string> entry;
            if (!isDeviceStatus && ResultCodes.Table.TryGetValue(code, out entry))
                return entry.Key + " (" + code + "): " + entry.Value;
            return "the device answered with status code " + code;
        }
    }

    /// <summary>An open port with the card device on it. Every call blocks
    /// until the device has answered or a time-out has passed; on Windows
    /// the calling thread's window messages keep flowing meanwhile. A port
    /// may be shared between threads: its calls run one at a time, in the
    /// order they get the port; a Dispose while another thread is in a call
    /// closes the port once that call has returned, and a port that is
    /// never disposed is closed when the collector finalizes it.</summary>
    public sealed class VolmiraxPort : IDisposable
    {
        const int NoPort = -101;  // ERR_NO_PORT: what every call gives once the port is closed
        readonly PortHandle handle;
        readonly object oneCallAtATime = new object();

        /// <summary>Opens COM<paramref name="port"/> (OpenComm).</summary>
        /// <exception cref="Win32Exception">The port did not open; NativeErrorCode is the system's reason.</exception>
        public VolmiraxPort(int port, int baud = 9600)
            : this(NativeMethods.OpenPort(port, baud), PortName(port))
        {
        }

        /// <summary>Opens a device path such as /dev/ttyUSB0 (OpenCommPath, Linux only).</summary>
        /// <exception cref="ArgumentNullException">device is null.</exception>
        /// <exception cref="ArgumentException">device holds a NUL character, which would cut the path short.</exception>
        public VolmiraxPort(string device, int baud = 9600)
            : this(NativeMethods.OpenPortPath(CheckedPath(device), baud), device)
        {
        }

        static string CheckedPath(string device)
        {
            if (device == null)
                throw new ArgumentNullException("device");
            if (device.IndexOf('\0') >= 0)
                throw new ArgumentException("a device path cannot hold a NUL character", "device");
            return device;
        }

        VolmiraxPort(PortHandle opened, string name)
        {
            if (opened.IsInvalid) {
                int reason = Marshal.GetLastWin32Error();
                opened.Dispose();
                throw new Win32Exception(reason, name + " did not open: " + SystemMessage(reason));
            }
            handle = opened;
        }

        static bool OnLinux { get { return Environment.OSVersion.Platform == PlatformID.Unix; } }

        /// <summary>The device path a port number names on Linux (COM3 is /dev/ttyS2).</summary>
        static string PortName(int port)
        {
            return OnLinux && port >= 1 ? "COM" + port + " (/dev/ttyS" + (port - 1) + ")" : "COM" + port;
        }

        [DllImport("libc", EntryPoint = "strerror")]
        static extern IntPtr StrError(int errnum);

        // The system's words for its reason: errno's on Linux (the runtime
        // would give a bare number), the Win32 message on Windows.
        static string SystemMessage(int reason)
        {
            if (!OnLinux)
                return new Win32Exception(reason).Message;
            try {
                string text = Marshal.PtrToStringAnsi(StrError(reason));
                return string.IsNullOrEmpty(text) ? "error " + reason : text + " (errno " + reason + ")";
            } catch (Exception) {
                return "errno " + reason;
            }
        }

        public bool IsClosed { get { return handle.IsClosed; } }

        /// <summary>Closes the port; nothing happens when it is already closed.
        /// While another thread is in a call on the port, the port is closed
        /// when that call returns.</summary>
        public void Dispose()
        {
            handle.Dispose();
        }

        // Runs one export with the handle; a port already closed gives
        // ERR_NO_PORT, as the library does for a null handle.
        int Call(Func<PortHandle, int> export)
        {
            // one exchange per port at a time: two at once would mix their
            // frames and replies on the line
            lock (oneCallAtATime) {
                try {
                    return export(handle);
                } catch (ObjectDisposedException) {
                    return NoPort;
                }
            }
        }

        /// <summary>One command exchange (SendCmd): returns the reply data,
        /// status bytes first. A negative reply throws with IsDeviceStatus
        /// set and its ReplyData; this call tells a device status from a
        /// library code of the same value, since it sees whether the reply
        /// data was written.</summary>
        /// <exception cref="ArgumentNullException">cmd is null.</exception>
        public byte[] Send(byte[] cmd, int ack = 1000, int reply = 3000, int eot = 500)
        {
            if (cmd == null)
                throw new ArgumentNullException("cmd");
            byte[] data = new byte[NativeMethods.MaxReplyData];
            uint length = 0xFFFFFFFF;  // written only when a checked reply came
            int rc = Call(h => NativeMethods.SendCmd(h, cmd, (uint)cmd.Length, data, ref length, ack, reply, eot));
            if (length == 0xFFFFFFFF) {
                if (rc != 0)
                    throw new VolmiraxException(rc, false);
                return new byte[0];
            }
            byte[] result = new byte[length];
            Array.Copy(data, result, (int)length);
            if (rc != 0)
                throw new VolmiraxException(rc, true, result);
            return result;
        }

        /// <summary>Tells the device to abandon the exchange in progress (SendEot).</summary>
        public void Eot(int timeout = 500) { Check(Call(h => NativeMethods.SendEot(h, timeout))); }

        /// <summary>Ejects the card (EjectCard). The result cannot tell a device
        /// status from a library code of the same value: a code in the
        /// library's table is taken for the library's.</summary>
        public void Eject(int pm) { Check(Call(h => NativeMethods.EjectCard(h, pm))); }

        /// <summary>Resets the device (ReSet); failures as for Eject.</summary>
        public void Reset(int pm, int d1, int d2, int d3, int d4, int d5, int d6, int d7)
        {
            Check(Call(h => NativeMethods.ReSet(h, pm, d1, d2, d3, d4, d5, d6, d7)));
        }

        /// <summary>The device's version data (GetMachineVersion), at most 253
        /// bytes, without the zero padding of the buffer: zero bytes at the
        /// end of the data itself cannot be told from it. Failures as for Eject.</summary>
        public byte[] Version()
        {
            byte[] buffer = new byte[NativeMethods.VersionBufferSize];
            Check(Call(h => NativeMethods.GetMachineVersion(h, buffer)));
            int length = NativeMethods.VersionBufferSize - 1;
            while (length > 0 && buffer[length - 1] == 0)
                --length;
            byte[] result = new byte[length];
            Array.Copy(buffer, result, length);
            return result;
        }

        static void Check(int rc)
        {
            if (rc != 0)
                throw new VolmiraxException(rc, !ResultCodes.Table.ContainsKey(rc));
        }
    }
}
