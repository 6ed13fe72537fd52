# Writes the first-start "options.ini" into the program folder, unless one is there:
# a user's saved settings are never replaced by a build.
# In: OUT (the file), HOME (the user's home folder).
if(EXISTS "${OUT}")
  return()
endif()
set(crlf "\r\n")
set(text "5${crlf}")  # recordings are started and stopped by hand
foreach(hour RANGE 23)
  string(APPEND text "FALSEFALSEFALSEFALSEFALSEFALSEFALSEFALSE${crlf}")
endforeach()
string(APPEND text "TRUE${crlf}FALSE${crlf}FALSE${crlf}FALSE${crlf}FALSE${crlf}FALSE${crlf}")
string(APPEND text "${HOME}/Pelmorax${crlf}50${crlf}")
# 44.1 kHz, stereo, 16-bit PCM; no codec format text.
foreach(value 1 2 44100 176400 4 16 0)
  string(APPEND text "${value}${crlf}")
endforeach()
string(APPEND text "${crlf}")
# Threshold, silence delay, record format, rate, channels, compressed days, bitrate,
# in and out device, hide delete, soft gap, alarm outputs, port, encoder delay,
# wav days, Ogg quality, stop delay.
foreach(value 1000 30 0 3 3 1 9 0 0 FALSE FALSE FALSE 0 0 1 3 0)
  string(APPEND text "${value}${crlf}")
endforeach()
file(WRITE "${OUT}" "${text}")
