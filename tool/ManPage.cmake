# Writes the varonet man page with help2man: the tool's --help, then each
# subcommand's --help in a section of its own.
#   cmake -DTOOL=path/to/varonet -DHELP2MAN=help2man -DOUT=varonet.1 -P ManPage.cmake
set(include_file ${OUT}.include)
file(WRITE ${include_file} "[SUBCOMMANDS]\n")
foreach(sub cat term send receive relay print ports t1 explain demo)
  execute_process(COMMAND ${TOOL} ${sub} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} ${sub} --help failed")
  endif()
  # A backslash is roff's escape; leading dots and quotes would read as requests.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" help "${help}")
  file(APPEND ${include_file} ".SS varonet ${sub}\n.nf\n${help}.fi\n")
endforeach()
execute_process(COMMAND ${HELP2MAN} --no-info --section=1 --include=${include_file}
                        "--name=serial ports, modems, TCP, pipes and files named by one locator"
                        --output=${OUT} ${TOOL}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed")
endif()
