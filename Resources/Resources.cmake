# Lays out the bundle's resources: Info.plist, the plain data files and the shipped
# databases, which are built from the readable sources in Resources/rules by the
# project's own maintenance operations (halvorn rules encrypt).
set(res "${CMAKE_SOURCE_DIR}/Resources")
set(outputs)

configure_file("${res}/Info.plist.in" "${HALVORN_APP_DIR}/Contents/Info.plist" @ONLY)

file(GLOB plain_resources CONFIGURE_DEPENDS "${res}/*.plist" "${res}/*.sh")
foreach(f IN LISTS plain_resources)
  get_filename_component(n "${f}" NAME)
  add_custom_command(OUTPUT "${HALVORN_RESOURCES_DIR}/${n}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${f}" "${HALVORN_RESOURCES_DIR}/${n}"
    DEPENDS "${f}" COMMENT "Copying ${n}")
  list(APPEND outputs "${HALVORN_RESOURCES_DIR}/${n}")
endforeach()

find_program(SQLITE3_CLI sqlite3 REQUIRED)
# Each Resources/rules/<Name>.sql becomes Resources/<Name>.db in the bundle.
file(GLOB rule_sources CONFIGURE_DEPENDS "${res}/rules/*.sql")
foreach(sql IN LISTS rule_sources)
  get_filename_component(n "${sql}" NAME_WE)
  set(plain "${CMAKE_BINARY_DIR}/rules/${n}.plain.db")
  set(shipped "${HALVORN_RESOURCES_DIR}/${n}.db")
  add_custom_command(OUTPUT "${shipped}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/rules"
    COMMAND ${CMAKE_COMMAND} -E rm -f "${plain}"
    COMMAND ${SQLITE3_CLI} -bail "${plain}" ".read ${sql}"
    COMMAND ${CMAKE_COMMAND} -E env HALVORN_LOG=quiet $<TARGET_FILE:halvorn> rules encrypt "${plain}"
    COMMAND ${CMAKE_COMMAND} -E copy "${plain}" "${shipped}"
    DEPENDS "${sql}" halvorn
    COMMENT "Building the shipped ${n}.db")
  list(APPEND outputs "${shipped}")
endforeach()

add_custom_target(halvorn_resources ALL DEPENDS ${outputs})
