# Cross build for the printer itself: 32-bit ARM Linux (armhf), with Debian's cross compiler
# (g++-arm-linux-gnueabihf) and the armhf libraries installed beside the PC's (multiarch).
#
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=tools/armhf.cmake
# or simply `tools/setup --target armhf`, which also installs the packages.
#
# Libraries that Debian cannot install beside the PC's own (libzint has no multiarch path) are
# unpacked from their armhf packages into PRINTER_ARMHF_DEPS (default <build>/armhf-deps): headers
# in usr/include, libraries in usr/lib. Programs built here run on the PC through qemu-arm, with
# that folder as their library path.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

# pkg-config sees only the armhf .pc files (the multiarch folder of the PC's /usr); any library
# the build asks pkg-config for is found as long as its -dev:armhf package is installed.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

if(NOT PRINTER_ARMHF_DEPS)
  set(PRINTER_ARMHF_DEPS "${CMAKE_BINARY_DIR}/armhf-deps")
endif()
set(PRINTER_ARMHF_DEPS "${PRINTER_ARMHF_DEPS}" CACHE PATH "unpacked armhf packages that are not installed")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PRINTER_ARMHF_DEPS)

# (64-bit file offsets are set for every build in the top CMakeLists.txt.)
set(CMAKE_C_FLAGS_INIT "-isystem ${PRINTER_ARMHF_DEPS}/usr/include")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${PRINTER_ARMHF_DEPS}/usr/include")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-L${PRINTER_ARMHF_DEPS}/usr/lib -Wl,-rpath-link,${PRINTER_ARMHF_DEPS}/usr/lib")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")

# The emulator that runs armhf programs on the PC (ctest, build steps, gtest discovery). No -L:
# the programs find the multiarch loader /lib/ld-linux-armhf.so.3 and its libc; mixing in the
# cross compiler's own libc folder crashes them.
find_program(PRINTER_QEMU_ARM qemu-arm)
if(NOT PRINTER_QEMU_ARM)
  set(PRINTER_QEMU_ARM qemu-arm)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR "${PRINTER_QEMU_ARM};-E;LD_LIBRARY_PATH=${PRINTER_ARMHF_DEPS}/usr/lib")
