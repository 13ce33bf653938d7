// The smallest .NET host: open the port, read the version, eject the card.
//   mono example.exe PORT      (a COM port number; on Linux a device path)
using System;
using System.Text;
using Volmirax;

static class Program
{
    static int Main(string[] args)
    {
        if (args.Length != 1) {
            Console.Error.WriteLine("usage: example PORT");
            return 2;
        }
        int number;
        try {
            using (VolmiraxPort port = int.TryParse(args[0], out number) ? new VolmiraxPort(number) : new VolmiraxPort(args[0])) {
                Console.WriteLine("version: " + Encoding.ASCII.GetString(port.Version()));
                port.Eject('0');
                Console.WriteLine("card ejected");
            }
        } catch (VolmiraxException e) {
            Console.Error.WriteLine(e.Message);
            return 1;
        } catch (System.ComponentModel.Win32Exception e) {
            Console.Error.WriteLine(e.Message + ": " + e.NativeErrorCode);
            return 1;
        }
        return 0;
    }
}
