# Builds the package in BUILD_DIR, unpacks it into SCRATCH and runs the installed programs.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/packages ${SCRATCH}/root)

function(run)
  cmake_parse_arguments(RUN "" "EXPECT;OUTPUT" "COMMAND" ${ARGN})
  execute_process(COMMAND ${RUN_COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT RUN_EXPECT STREQUAL "any" AND NOT status STREQUAL RUN_EXPECT)
    message(FATAL_ERROR "${RUN_COMMAND}: status ${status}, not ${RUN_EXPECT}\n${out}\n${err}")
  endif()
  if(RUN_OUTPUT)
    set(${RUN_OUTPUT} "${out}${err}" PARENT_SCOPE)
  endif()
endfunction()

function(expect_match text pattern what)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "${what}: \"${pattern}\" not in:\n${text}")
  endif()
endfunction()

run(COMMAND cpack -G DEB -B ${SCRATCH}/packages --config ${BUILD_DIR}/CPackConfig.cmake
    EXPECT 0)
file(GLOB packages ${SCRATCH}/packages/*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package, found: ${packages}")
endif()
run(COMMAND dpkg-deb -f ${packages} Depends EXPECT 0 OUTPUT depends)
expect_match("${depends}" "libqt6widgets6" "the package's dependencies")
run(COMMAND dpkg-deb -x ${packages} ${SCRATCH}/root EXPECT 0)

set(root ${SCRATCH}/root)
foreach(file usr/bin/KRBServer usr/bin/krb-sim usr/share/man/man1/KRBServer.1
        usr/share/man/man1/krb-sim.1 usr/share/applications/KRBServer.desktop
        usr/share/doc/krb/configuration.md usr/share/doc/krb/README.md
        usr/share/krb/examples/demo-lab/DriverConfig.lni)
  if(NOT EXISTS ${root}/${file})
    message(FATAL_ERROR "the package holds no ${file}")
  endif()
endforeach()
file(READ ${root}/usr/share/systemd/user/KRBServer.service unit)
expect_match("${unit}" "\nExecStart=/usr/bin/KRBServer --headless " "the systemd unit")

# The programs find their libraries through their RPATH, inside the scratch root.
run(COMMAND ${root}/usr/bin/KRBServer --help EXPECT 0 OUTPUT help)
expect_match("${help}" "usage: KRBServer <DriverConfig.lni> start" "KRBServer --help")
# Its usage, on whichever stream, shows that it started with the installed libraries.
run(COMMAND ${root}/usr/bin/krb-sim --help EXPECT any OUTPUT usage)
expect_match("${usage}" "usage: krb-sim" "krb-sim --help")
set(lab ${root}/usr/share/krb/examples/demo-lab/DriverConfig.lni)
run(COMMAND ${root}/usr/bin/KRBServer --check ${lab} EXPECT 0 OUTPUT check)
expect_match("${check}" "${lab}: no problems, 1 warning; 5 units in 2 systems\n$" "--check")

# A broken copy: a unit file gone, a port that is no number, and the check says so.
file(COPY ${root}/usr/share/krb/examples/demo-lab DESTINATION ${SCRATCH}/broken)
set(broken ${SCRATCH}/broken/demo-lab)
file(REMOVE ${broken}/Lab/System1/Unit2.lni)
file(READ ${broken}/Lab/System2/Unit4.lni text)
string(REPLACE "UnitComPort=4" "UnitComPort=4x" text "${text}")
file(WRITE ${broken}/Lab/System2/Unit4.lni "${text}")
run(COMMAND ${root}/usr/bin/KRBServer --check ${broken}/DriverConfig.lni EXPECT 1 OUTPUT check)
expect_match("${check}" "Unit2: the unit file [^\n]*Unit2.lni does not exist\n" "--check, broken")
expect_match("${check}" "UnitComPort: \"4x\" is not an integer\n" "--check, broken")
expect_match("${check}" "2 problems, 1 warning; 3 units in 2 systems\n$" "--check, broken")
message(STATUS "${check}")
file(REMOVE_RECURSE ${SCRATCH})
