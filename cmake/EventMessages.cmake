# The event-log message table that every service program carries (English,
# United States): one entry per event ID the programs write, each "%1" and
# CR LF, so an event viewer shows every entry's own text unchanged. ID 0, the
# host's own messages, has none. The message file is written here rather than
# kept in the tree, so that its CR LF line ends (which windmc copies into the
# texts) cannot be lost to a checkout; windmc runs at configure time.
set(QUARRIN_EVENT_IDS 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 100 101 102 103 104 105 106 999)
set(QUARRIN_EVENT_MESSAGES_DIR "${CMAKE_BINARY_DIR}/event_messages")
set(mc "LanguageNames=(EnglishUS=0x409:MSG00409)\n")
foreach(id ${QUARRIN_EVENT_IDS})
  string(APPEND mc "MessageId=${id}\nLanguage=EnglishUS\n%1\n.\n")
endforeach()
file(CONFIGURE OUTPUT "${QUARRIN_EVENT_MESSAGES_DIR}/event_messages.mc" CONTENT "${mc}"
  NEWLINE_STYLE CRLF)
set(rc "${QUARRIN_EVENT_MESSAGES_DIR}/event_messages.rc")
# Only when the message file changed, so that a new configure run does not
# relink every program.
if("${QUARRIN_EVENT_MESSAGES_DIR}/event_messages.mc" IS_NEWER_THAN "${rc}")
  execute_process(
    COMMAND ${QUARRIN_WINDMC} -r "${QUARRIN_EVENT_MESSAGES_DIR}" -h "${QUARRIN_EVENT_MESSAGES_DIR}"
      "${QUARRIN_EVENT_MESSAGES_DIR}/event_messages.mc"
    RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    file(REMOVE "${rc}")
    message(FATAL_ERROR "windmc failed on the event messages: ${errors}")
  endif()
endif()

# quarrin_event_messages(<target>): links the message table into a program.
function(quarrin_event_messages target)
  target_sources(${target} PRIVATE "${QUARRIN_EVENT_MESSAGES_DIR}/event_messages.rc")
  # windres finds the table's binary file named in the script there.
  target_include_directories(${target} PRIVATE "${QUARRIN_EVENT_MESSAGES_DIR}")
endfunction()
