# The core's sources: plain C++ with the standard library only, and the one
# operating-system file of the target system. Needs OVIX_ROOT (the top of the
# repository); sets OVIX_CORE_SOURCES. Shared by the main build, the Windows
# cross-build of the unit tests and the fuzz targets.
set(OVIX_CORE_SOURCES
  ${OVIX_ROOT}/src/link/frame_codec.cpp
  ${OVIX_ROOT}/src/link/printer_link.cpp
  ${OVIX_ROOT}/src/os/env.cpp
  ${OVIX_ROOT}/src/os/files.cpp
  ${OVIX_ROOT}/src/os/text.cpp
  ${OVIX_ROOT}/src/shell/event_log.cpp
  ${OVIX_ROOT}/src/shell/settings.cpp
  ${OVIX_ROOT}/src/shell/wire_trace.cpp
  ${OVIX_ROOT}/src/spool/digit_keys.cpp
  ${OVIX_ROOT}/src/spool/file_chooser.cpp
  ${OVIX_ROOT}/src/spool/job_file.cpp
  ${OVIX_ROOT}/src/spool/job_filer.cpp
  ${OVIX_ROOT}/src/spool/job_log.cpp
  ${OVIX_ROOT}/src/spool/journal.cpp
  ${OVIX_ROOT}/src/spool/receipt_line.cpp
  ${OVIX_ROOT}/src/spool/job_sender.cpp
  ${OVIX_ROOT}/src/spool/receipt_spool.cpp
  ${OVIX_ROOT}/src/spool/spool_files.cpp
  ${OVIX_ROOT}/src/spool/spool_scheduler.cpp
  ${OVIX_ROOT}/src/spool/translation.cpp
)
if(WIN32)
  list(APPEND OVIX_CORE_SOURCES ${OVIX_ROOT}/src/os/windows.cpp)
else()
  list(APPEND OVIX_CORE_SOURCES ${OVIX_ROOT}/src/os/posix.cpp)
endif()
