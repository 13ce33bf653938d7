# The Linux programs that a Windows build is tested with: the simulator,
# and the command-line tool with its tap (with libvolmirax.so). They come
# from a build of this same project for the machine itself, with the
# machine's own compiler, in host-tools/ of the build folder. It is built
# on every build of the Windows preset and keeps its own dependencies, so
# a change to any source or header it uses rebuilds what uses it.
include(ExternalProject)
set(VOLMIRAX_HOST_TOOLS_DIR ${PROJECT_BINARY_DIR}/host-tools)
ExternalProject_Add(host_tools
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${VOLMIRAX_HOST_TOOLS_DIR}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
               -DCMAKE_TOOLCHAIN_FILE= -DCMAKE_C_COMPILER=cc -DCMAKE_CXX_COMPILER=c++
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target devsim volmirax_cli
    # the scripts find the simulator beside the DLL
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/devsim ${PROJECT_BINARY_DIR}/devsim
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD OFF)
set(VOLMIRAX_HOST_CLI ${VOLMIRAX_HOST_TOOLS_DIR}/volmirax)
