# The `strellix` command line (segment and evaluate), built on the library
# and the program's frame reading. Its parts are a library of their own so
# that the tests can reach them; CLI11 (header-only) parses the options.
find_package(CLI11 CONFIG REQUIRED)

file(GLOB STRELLIX_CLI_SOURCES CONFIGURE_DEPENDS src/cli/*.cpp)
list(FILTER STRELLIX_CLI_SOURCES EXCLUDE REGEX ".*/main\\.cpp$")
add_library(strellix_cli_parts STATIC ${STRELLIX_CLI_SOURCES})
target_link_libraries(strellix_cli_parts PUBLIC strellix_io CLI11::CLI11)

# The target name `strellix` is the shared library's; the program gets
# that name on disk.
add_executable(strellix_cli src/cli/main.cpp)
target_link_libraries(strellix_cli PRIVATE strellix_cli_parts)
target_compile_definitions(strellix_cli PRIVATE STRELLIX_CLI_VERSION="${PROJECT_VERSION}")
set_target_properties(strellix_cli PROPERTIES OUTPUT_NAME strellix)
strellix_link_atomically(strellix_cli)
install(TARGETS strellix_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
