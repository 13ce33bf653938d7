"""The package's build. By default a pure-Python wheel that loads the
library installed on the system. With VOLMIRAX_WHEEL_LIBRARY (the built
library) and VOLMIRAX_WHEEL_PLATFORM (linux_x86_64, win32, win_amd64) set,
a wheel for that platform that carries the library, which the package then
loads first (bindings/python/make_wheel.sh)."""

import atexit
import os
import shutil
import tempfile

from setuptools import Distribution, setup

LIBRARY = os.environ.get("VOLMIRAX_WHEEL_LIBRARY")
PLATFORM = os.environ.get("VOLMIRAX_WHEEL_PLATFORM")

package_data = ["py.typed"]
cmdclass = {}
distclass = Distribution
if LIBRARY:
    from wheel.bdist_wheel import bdist_wheel

    carried = "VOLMIRAX.dll" if PLATFORM.startswith("win") else "libvolmirax.so.1"
    shutil.copyfile(LIBRARY, os.path.join(os.path.dirname(os.path.abspath(__file__)), "volmirax", carried))
    package_data.append(carried)

    class CarriesALibrary(Distribution):
        """Not pure Python: the files go where platform code goes."""

        def has_ext_modules(self):
            return True

    class PlatformWheel(bdist_wheel):
        """A wheel for one platform, for any Python 3 (the package is ctypes only)."""

        def get_tag(self):
            return "py3", "none", PLATFORM

    cmdclass["bdist_wheel"] = PlatformWheel
    distclass = CarriesALibrary

# The build's own files (egg-info, build/) go to a folder of their own, never
# into the checkout that `pip install ./bindings/python` builds from.
scratch = tempfile.mkdtemp(prefix="volmirax-build.")
atexit.register(shutil.rmtree, scratch, True)
setup(package_data={"volmirax": package_data}, cmdclass=cmdclass, distclass=distclass,
      options={"egg_info": {"egg_base": scratch}, "build": {"build_base": os.path.join(scratch, "build")}})
