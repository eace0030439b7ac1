# Windows Installer packages, LedraII-<version>-<arch>.msi, built with wixl
# from installer/LedraII.wxs. The COM registration in them is generated from
# the table that the DLL's own DllRegisterServer writes
# (src/com/registration_table.h), by a generator built for this machine.
#
# Versions: Windows Installer compares only the first three fields of a
# product version, so a package whose version differed from the installed
# one in the fourth field alone would not replace it. The package version is
# therefore major.minor.(patch * 1000 + tweak): 2.0.0.12 becomes 2.0.12,
# which is also how the library writes its own version (2.00.0012), and every
# step of any field is an upgrade. The ProductCode is derived from the full
# version, so each version is a new product that replaces the older one
# (major upgrade), while installing the same package again only maintains it.
# The package code and the package's times are reproducible
# (scripts/make-msi).
find_program(WIXL wixl REQUIRED)
find_program(FAKETIME faketime REQUIRED)
find_program(MSIINFO msiinfo REQUIRED)
find_program(HOST_CXX NAMES c++ g++ REQUIRED)

# Fixed for ever: they tie every version of one architecture's package
# together. The two architectures differ so that both can be installed.
set(LEDRA_UPGRADE_CODE_x86 0CD4B00E-978D-485F-80DA-F6FE4D7B4121)
set(LEDRA_UPGRADE_CODE_x64 2354090C-83DE-4835-8B85-1BC33FEBD667)
set(LEDRA_UPGRADE_CODE ${LEDRA_UPGRADE_CODE_${LEDRA_ARCH}})

# The IDs come from the IDL in its order: library, interface, class.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl idl_uuids REGEX "uuid\\(")
string(REGEX MATCHALL "uuid\\(([0-9A-Fa-f-]+)\\)" idl_uuids "${idl_uuids}")
list(LENGTH idl_uuids n)
if(NOT n EQUAL 3)
  message(FATAL_ERROR "expected 3 uuids (library, interface, class) in plgLedraII.idl, found ${n}")
endif()
set(ids)
foreach(u ${idl_uuids})
  string(REGEX REPLACE "uuid\\(([^)]*)\\)" "{\\1}" u ${u})
  string(TOUPPER ${u} u)
  list(APPEND ids ${u})
endforeach()
list(GET ids 0 LEDRA_LIBID)
list(GET ids 1 LEDRA_IID)
list(GET ids 2 LEDRA_CLSID)
if(LEDRA_ARCH STREQUAL x64)
  set(tlb_platform win64)
else()
  set(tlb_platform win32)
endif()

set(REGISTRY_FRAGMENT ${CMAKE_BINARY_DIR}/registry_fragment)
add_custom_command(
  OUTPUT ${REGISTRY_FRAGMENT}
  COMMAND ${HOST_CXX} -std=c++17 -O1 -Wall -Wextra -I ${CMAKE_SOURCE_DIR}/src
          ${CMAKE_SOURCE_DIR}/installer/registry_fragment.cpp -o ${REGISTRY_FRAGMENT}
  DEPENDS ${CMAKE_SOURCE_DIR}/installer/registry_fragment.cpp ${CMAKE_SOURCE_DIR}/src/com/registration_table.h
  COMMENT "Building the registry fragment generator for this machine")
add_custom_command(
  OUTPUT ${GEN}/registry.wxi
  COMMAND ${REGISTRY_FRAGMENT} ${LEDRA_CLSID} ${LEDRA_LIBID} ${LEDRA_IID} ${tlb_platform} ${GEN}/registry.wxi
  DEPENDS ${REGISTRY_FRAGMENT} ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  COMMENT "Generating the package's COM registration")
# One target owns the fragment, so that the two packages do not make it twice at once.
add_custom_target(registry_wxi DEPENDS ${GEN}/registry.wxi)

# ledra_msi(TARGET VERSION BINDIR OUTDIR [DLL_MARK text]) builds
# OUTDIR/LedraII-VERSION-<arch>.msi from LedraII.dll and ledra.exe of this
# tree, copied to BINDIR first. DLL_MARK appends text to the copied DLL (the
# upgrade test tells the two packages' files apart by it).
function(ledra_msi target version bindir outdir)
  cmake_parse_arguments(arg "" "DLL_MARK" "" ${ARGN})
  string(REPLACE "." ";" f ${version})
  list(LENGTH f n)
  if(NOT n EQUAL 4)
    message(FATAL_ERROR "package version ${version}: four fields expected")
  endif()
  list(GET f 0 major)
  list(GET f 1 minor)
  list(GET f 2 patch)
  list(GET f 3 tweak)
  math(EXPR build "${patch} * 1000 + ${tweak}")
  if(major GREATER 255 OR minor GREATER 255 OR tweak GREATER 999 OR build GREATER 65535)
    message(FATAL_ERROR "version ${version} does not fit a package version (255.255.65.999)")
  endif()
  string(UUID product NAMESPACE ${LEDRA_UPGRADE_CODE} NAME "product ${version}" TYPE SHA1 UPPER)
  string(UUID dll_guid NAMESPACE ${LEDRA_UPGRADE_CODE} NAME "component LedraII.dll" TYPE SHA1 UPPER)
  string(UUID exe_guid NAMESPACE ${LEDRA_UPGRADE_CODE} NAME "component ledra.exe" TYPE SHA1 UPPER)
  set(msi ${outdir}/LedraII-${version}-${LEDRA_ARCH}.msi)
  if(arg_DLL_MARK)
    set(copy_dll sh -c "cat \"$0\" > \"$1\" && printf %s \"$2\" >> \"$1\"" $<TARGET_FILE:LedraII>
                 ${bindir}/LedraII.dll "${arg_DLL_MARK}")
  else()
    set(copy_dll ${CMAKE_COMMAND} -E copy $<TARGET_FILE:LedraII> ${bindir}/LedraII.dll)
  endif()
  file(MAKE_DIRECTORY ${bindir} ${outdir})
  add_custom_command(
    OUTPUT ${msi}
    COMMAND ${copy_dll}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ledra_exe> ${bindir}/ledra.exe
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-msi ${msi} ${bindir} ${CMAKE_SOURCE_DIR}/installer/LedraII.wxs ${GEN}
            ${LEDRA_ARCH} ${major}.${minor}.${build} ${product} ${LEDRA_UPGRADE_CODE} ${dll_guid} ${exe_guid}
    DEPENDS ${CMAKE_SOURCE_DIR}/installer/LedraII.wxs ${CMAKE_SOURCE_DIR}/scripts/make-msi ${GEN}/registry.wxi
            LedraII ledra_exe
    COMMENT "Packaging LedraII-${version}-${LEDRA_ARCH}.msi"
    VERBATIM)
  # What else make-msi needs, for scripts/sign, which packages signed files.
  file(WRITE ${outdir}/${target}.args
       "${CMAKE_SOURCE_DIR}/installer/LedraII.wxs ${GEN} ${LEDRA_ARCH} ${major}.${minor}.${build} ${product} "
       "${LEDRA_UPGRADE_CODE} ${dll_guid} ${exe_guid}\n")
  add_custom_target(${target} ALL DEPENDS ${msi})
  add_dependencies(${target} registry_wxi)
  set(${target}_FILE ${msi} PARENT_SCOPE)
endfunction()

ledra_msi(msi ${PROJECT_VERSION} ${CMAKE_BINARY_DIR}/package ${CMAKE_BINARY_DIR})
set(LEDRA_MSI ${msi_FILE})

# A later version of the same package, for the upgrade test.
math(EXPR next_tweak "${PROJECT_VERSION_TWEAK} + 1")
set(LEDRA_NEXT_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${next_tweak})
ledra_msi(msi_upgrade_test ${LEDRA_NEXT_VERSION} ${CMAKE_BINARY_DIR}/upgrade-test/package
          ${CMAKE_BINARY_DIR}/upgrade-test DLL_MARK "LedraII ${LEDRA_NEXT_VERSION} upgrade test")
set(LEDRA_NEXT_MSI ${msi_upgrade_test_FILE})
