# Writes the manual page velnor.1 around the program's own --help text, so that the
# page names exactly the options and defaults the program has.
# Run as: cmake -DVELNOR=<program> -DVERSION=<version> -DOUTPUT=<file> -P velnor_man_page.cmake
# (-DEMULATOR="<command>" runs a cross-built program under it).
separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
execute_process(COMMAND ${emulator} ${VELNOR} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "velnor --help failed (${status})")
endif()

# roff: a backslash is written \e and a minus sign \-; a line that starts with a
# period or an apostrophe would be read as a request, so \& goes in front of it.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(REGEX REPLACE "\n$" "" help "${help}")

file(WRITE ${OUTPUT} ".TH VELNOR 1 \"\" \"velnor ${VERSION}\" \"User Commands\"
.SH NAME
velnor \\- remove noise from the luma of a YUV4MPEG2 stream
.SH DESCRIPTION
.B velnor
filters YUV4MPEG2 streams, as ffmpeg pipes them. Its options, as
.B velnor \\-\\-help
prints them:
.PP
.nf
${help}
.fi
.SH EXAMPLES
Filter a video and keep its audio:
.PP
.nf
ffmpeg \\-i in.mkv \\-map 0:v \\-pix_fmt yuv420p \\-f yuv4mpegpipe \\- | velnor |
  ffmpeg \\-i \\- \\-i in.mkv \\-map 0:v \\-map 1:a \\-c:a copy out.mkv
.fi
.PP
Print the settings for the noise of a clip, then filter with them:
.PP
.nf
velnor \\-\\-suggest noisy.y4m
velnor \\-\\-auto noisy.y4m \\-o clean.y4m
.fi
.SH SEE ALSO
.BR ffmpeg (1)
")
