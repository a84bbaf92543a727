# What a user downloads: install rules for the programs and the guide, and the
# packages CPack makes from them (tools/release makes all of them at once).

# The version records of the Windows programs must show the one version number.
if(WIN32 AND VELMO_TESTS)
  foreach(program IN ITEMS Velmo-Starter velmo-umlaute)
    if(TARGET ${program})
      add_test(NAME version_record_${program}
               COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/release/pe_version.py
                       $<TARGET_FILE:${program}> --expect ${PROJECT_VERSION})
    endif()
  endforeach()
endif()
