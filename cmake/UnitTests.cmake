# The sources of the unit tests (tests/unit), with OVIX_ROOT set to the top of
# the repository; sets OVIX_UNIT_TEST_SOURCES. The Linux build and the Windows
# cross-build of the unit tests both take this one list, which links the core
# alone: the application layer's plain sources that app_test.cpp exercises
# are compiled into the test program itself.
set(OVIX_UNIT_TEST_SOURCES
  ${OVIX_ROOT}/tests/unit/app_test.cpp
  ${OVIX_ROOT}/tests/unit/check_test.cpp
  ${OVIX_ROOT}/tests/unit/digit_keys_test.cpp
  ${OVIX_ROOT}/tests/unit/fault_env_test.cpp
  ${OVIX_ROOT}/tests/unit/fault_points_test.cpp
  ${OVIX_ROOT}/tests/unit/file_chooser_test.cpp
  ${OVIX_ROOT}/tests/unit/frame_codec_test.cpp
  ${OVIX_ROOT}/tests/unit/job_file_test.cpp
  ${OVIX_ROOT}/tests/unit/job_filer_test.cpp
  ${OVIX_ROOT}/tests/unit/journal_test.cpp
  ${OVIX_ROOT}/tests/unit/os_test.cpp
  ${OVIX_ROOT}/tests/unit/printer_link_test.cpp
  ${OVIX_ROOT}/tests/unit/receipt_spool_test.cpp
  ${OVIX_ROOT}/tests/unit/settings_test.cpp
  ${OVIX_ROOT}/tests/unit/spool_files_test.cpp
  ${OVIX_ROOT}/tests/unit/translation_test.cpp
  ${OVIX_ROOT}/tests/unit/wire_trace_test.cpp
)
list(APPEND OVIX_UNIT_TEST_SOURCES
  ${OVIX_ROOT}/src/app/app_host.cpp
  ${OVIX_ROOT}/src/app/command_line.cpp
  ${OVIX_ROOT}/src/app/operator_script.cpp
  ${OVIX_ROOT}/src/app/startup.cpp
  ${OVIX_ROOT}/src/app/ui_tables.cpp
)
