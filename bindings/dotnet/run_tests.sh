#!/bin/bash
# Compiles the C# file with its tests and its example (Mono's mcs) and runs
# them against two simulated devices and libvolmirax.so.1 alone, as the
# runtime package installs it.
#   run_tests.sh LIBRARY_DIR DEVSIM INCLUDE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
libdir=$1 devsim=$2 include=$3
. "$here/../../tools/devsim/sim_session.sh"
mcs -nologo -warnaserror -out:"$tmp/tests.exe" "$here/Volmirax.cs" "$here/tests/VolmiraxTests.cs"
mcs -nologo -warnaserror -out:"$tmp/example.exe" "$here/Volmirax.cs" "$here/example/Program.cs"
behaviours=(--control --on '<=data=VMX\x00SIM 2' --on '1=data=CARD 4711'
            --on '5=marker=N,status=02,data=xy' --on '6=marker=N,status=\x2f\xc2' --on '9=silent,eotnone')
start_devsim "$devsim" "${behaviours[@]}" >/dev/null 2>&1
SIM_LINK=ttyVMX2 start_devsim "$devsim" "${behaviours[@]}" >/dev/null 2>&1
# what a kiosk with only the runtime package has: libvolmirax.so.1, no
# unversioned name; the dll map beside each program finds it
mkdir "$tmp/runtime"
cp -P "$libdir"/libvolmirax.so.1* "$tmp/runtime/"
for exe in tests example; do cp "$here/Volmirax.dll.config" "$tmp/$exe.exe.config"; done
export LD_LIBRARY_PATH=$tmp/runtime${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
mono "$tmp/tests.exe" "$tmp/ttyVMX" "$include/volmirax.h" "$tmp/ttyVMX2"
mono "$tmp/example.exe" "$tmp/ttyVMX"
