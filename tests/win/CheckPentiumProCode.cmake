# check_pentium_pro_code(<file>)
# Fails unless every instruction in the code of a 32-bit PE file, the static
# runtime's included, is one a Pentium Pro executes: no MMX, SSE or later
# register, no ldmxcsr/stmxcsr, nothing newer. Reads objdump's disassembly
# (AT&T syntax) up to __CTOR_LIST__, where the linker script ends the code
# in .text and the constructor lists and exception tables, which are data,
# begin. Names each function that holds an instruction outside the list,
# and lets such functions pass only when no root of the program (export,
# entry point, stored function address) reaches them through calls, jumps or
# addresses in instructions.

# What objdump shows for the Pentium Pro's instructions, size suffixes
# included; each a whole-mnemonic pattern of its own (CMake's regular
# expressions take few groups).
set(_conditions "(a|ae|b|be|c|e|g|ge|l|le|na|nae|nb|nbe|nc|ne|ng|nge|nl|nle|no|np|ns|nz|o|p|pe|po|s|z)")
set(_pentium_pro_mnemonics
  # integer arithmetic, logic, shifts, moves, stack
  "(add|adc|sub|sbb|and|or|xor|cmp|test|mov|inc|dec|neg|not|mul|imul|div|idiv|shl|shr|sal|sar|rol|ror|rcl|rcr|push|pop|lea|xchg|xadd|cmpxchg|bt|bts|btr|btc|bsf|bsr|shld|shrd|nop)[bwl]?"
  "movz(bw|bl|wl)|movs(bw|bl|wl)|bswap|cmpxchg8b"
  # string instructions (their rep prefixes are taken off before the check)
  "(lods|stos|movs|cmps|scas|ins|outs|in|out)[bwl]?"
  # control flow
  "j${_conditions}|jmp|ljmp|jecxz|jcxz|call|lcall|ret|lret|iret[wl]?|loop(e|ne|z|nz)?|enter|leave"
  "set${_conditions}|cmov${_conditions}[wl]?"
  "(pusha|popa|pushf|popf)[wl]?|cbtw|cwtl|cwtd|cltd"
  "lahf|sahf|clc|stc|cmc|cld|std|cli|sti|hlt|int|int3|into|ud2|cpuid|rdtsc|rdpmc|xlat|bound|arpl"
  "lds|les|lfs|lgs|lss|aaa|aas|aam|aad|daa|das|wait|fwait"
  # x87, with the Pentium Pro's fcmov and fcomi
  "f(ld|st|stp|ild|ist|istp|add|sub|subr|mul|div|divr|iadd|isub|isubr|imul|idiv|idivr|com|comp|icom|icomp)(s|l|t|ll|q)?"
  "f(addp|subp|subrp|mulp|divp|divrp|xch|compp|ucom|ucomp|ucompp|comi|comip|ucomi|ucomip|tst|xam|chs|abs|sqrt|rndint|scale|prem|prem1|xtract)"
  "f(sin|cos|sincos|ptan|patan|2xm1|yl2x|yl2xp1|ld1|ldz|ldpi|ldl2e|ldl2t|ldlg2|ldln2|init|ninit|clex|nclex)"
  "f(stcw|nstcw|ldcw|stenv|nstenv|ldenv|save|nsave|rstor|stsw|nstsw|incstp|decstp|free|freep|nop|bld|bstp)"
  "fcmov(b|e|be|u|nb|ne|nbe|nu)"
  # The long nop (0f 1f) is a Pentium Pro instruction. tzcnt and pause are
  # shown for rep bsf and rep nop: on older processors the prefix is
  # ignored, and compilers emit tzcnt only where bsf gives the same result
  # (a non-zero operand).
  "nop[wl]|tzcnt|pause"
  # runs of zero bytes between functions, which objdump leaves out
  "\\.\\.\\.")
set(_prefixes "lock|rep|repz|repnz|repe|repne|data16|addr16|cs|ds|es|fs|gs|ss|notrack")

function(check_pentium_pro_code file)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${file} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump -d failed on ${file}")
  endif()
  get_filename_component(name "${file}" NAME)
  string(FIND "${text}" " <__CTOR_LIST__>:\n" end)
  if(end EQUAL -1)
    message(FATAL_ERROR "${name}: no __CTOR_LIST__ symbol, cannot tell its code from data")
  endif()
  math(EXPR at "${end} - 8")
  string(SUBSTRING "${text}" ${at} 8 ctor_list)
  string(SUBSTRING "${text}" 0 ${end} text)
  # Plain list separators only: no ';' and no brackets survive.
  string(REGEX REPLACE "[][;]" "_" text "${text}")
  set(code "${text}")
  # Each instruction line becomes a tab and its mnemonic (without prefixes);
  # one that names an MMX, SSE or AVX register is marked so.
  string(REGEX REPLACE "\n *[0-9a-f]+:\t" "\n\t" text "${text}")
  foreach(round 1 2)
    string(REGEX REPLACE "\t(${_prefixes}) +" "\t" text "${text}")
  endforeach()
  string(REGEX REPLACE "\t([^ \n]+) [^\n]*%[xyz]?mm[0-9][^\n]*" "\t\\1(MMX/SSE-register)" text "${text}")
  string(REGEX REPLACE "\t([^ \n]+)[^\n]*" "\t\\1" text "${text}")

  string(REGEX MATCHALL "\t[^\n]+" all "${text}")
  list(REMOVE_DUPLICATES all)
  set(bad)
  foreach(entry IN LISTS all)
    string(SUBSTRING "${entry}" 1 -1 mnemonic)
    set(known FALSE)
    foreach(pattern IN LISTS _pentium_pro_mnemonics)
      if(mnemonic MATCHES "^(${pattern})$")
        set(known TRUE)
        break()
      endif()
    endforeach()
    if(NOT known)
      list(APPEND bad "${mnemonic}")
    endif()
  endforeach()
  list(LENGTH all count)
  if(NOT bad)
    message(STATUS "${name}: all ${count} kinds of instruction are Pentium Pro instructions")
    return()
  endif()

  # Name the functions: each label line starts the instructions that follow.
  set(holders)
  set(report)
  string(REGEX MATCHALL "<[^>\n]+>:[^<]*" functions "${text}")
  foreach(function IN LISTS functions)
    string(REGEX MATCH "^<([^>\n]+)>:" label "${function}")
    set(label "${CMAKE_MATCH_1}")
    string(REGEX MATCHALL "\t[^\n]+" used "${function}")
    list(REMOVE_DUPLICATES used)
    set(found)
    foreach(entry IN LISTS used)
      string(SUBSTRING "${entry}" 1 -1 mnemonic)
      if(mnemonic IN_LIST bad)
        list(APPEND found "${mnemonic}")
      endif()
    endforeach()
    if(found)
      list(APPEND holders "${label}")
      list(JOIN found ", " found)
      string(APPEND report "\n  ${label}: ${found}")
    endif()
  endforeach()
  list(JOIN bad ", " bad)

  # The static runtime may bring such code along in an object file it needs
  # for something else (libstdc++'s random_device with rdrand, behind a
  # CPUID check, comes with its iostreams). That is harmless only where
  # nothing can reach it.
  _unreachable(${file} code ${ctor_list} "${holders}" reached)
  if(reached)
    message(FATAL_ERROR "${name}: instructions beyond the Pentium Pro (${bad}) in:${report}\n"
                        "reached from ${reached}")
  endif()
  list(LENGTH holders count)
  message(STATUS "${name}: instructions beyond the Pentium Pro (${bad}) only in ${count} functions "
                 "that nothing in it reaches:${report}")
endfunction()

# Every start position of `needle` in the variable named `text_var`.
function(_find_all text_var needle out)
  set(text "${${text_var}}")
  set(positions)
  set(offset 0)
  while(TRUE)
    string(FIND "${text}" "${needle}" at)
    if(at EQUAL -1)
      break()
    endif()
    math(EXPR position "${offset} + ${at}")
    list(APPEND positions ${position})
    math(EXPR next "${at} + 1")
    string(SUBSTRING "${text}" ${next} -1 text)
    math(EXPR offset "${offset} + ${next}")
  endwhile()
  set(${out} "${positions}" PARENT_SCOPE)
endfunction()

# The label of the function whose instructions hold position `at`.
function(_function_at text_var at out)
  string(SUBSTRING "${${text_var}}" 0 ${at} before)
  string(FIND "${before}" ">:\n" end REVERSE)
  string(SUBSTRING "${before}" 0 ${end} before)
  string(FIND "${before}" " <" start REVERSE)
  math(EXPR start "${start} + 2")
  string(SUBSTRING "${before}" ${start} -1 label)
  set(${out} "${label}" PARENT_SCOPE)
endfunction()

# Follows the references to the given functions backwards: a direct call or
# jump, an address in an instruction, or an address (absolute or relative to
# the image base) stored anywhere in the file outside the code and the
# unwind and debug tables, which makes a root: exports, the entry point,
# vtables, constructor lists, TLS callbacks, function pointers. Sets `out` to
# a root reached this way, or to nothing when there is none.
function(_unreachable file code_var ctor_list holders out)
  set(code "${${code_var}}")
  execute_process(COMMAND ${OBJDUMP} -h -p ${file} OUTPUT_VARIABLE headers)
  string(REGEX MATCH "\nImageBase[ \t]+([0-9a-fA-F]+)" ignored "${headers}")
  set(base "${CMAKE_MATCH_1}")

  # The file's stored bytes that may hold function addresses, in hex, as
  # segments kept byte-aligned by two-character separators.
  file(READ ${file} bytes HEX)
  string(REGEX MATCHALL "\n +[0-9]+ [^ \n]+ +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+ " sections "${headers}")
  set(data)
  set(first_section -1)
  foreach(section IN LISTS sections)
    string(REGEX MATCH " [0-9]+ ([^ ]+) +([0-9a-f]+) +([0-9a-f]+) +[0-9a-f]+ +([0-9a-f]+) " ignored "${section}")
    set(section_name "${CMAKE_MATCH_1}")
    math(EXPR size "0x${CMAKE_MATCH_2}")
    math(EXPR vma "0x${CMAKE_MATCH_3}")
    math(EXPR offset "0x${CMAKE_MATCH_4}")
    if(offset EQUAL 0)
      continue()
    endif()
    if(first_section EQUAL -1 OR offset LESS first_section)
      set(first_section ${offset})
    endif()
    if(section_name STREQUAL ".text")
      # Only what follows the code: constructor lists, exception tables.
      math(EXPR skip "0x${ctor_list} - ${vma}")
      math(EXPR offset "${offset} + ${skip}")
      math(EXPR size "${size} - ${skip}")
    elseif(section_name MATCHES "^\\.(eh_frame|debug_)")
      continue()
    endif()
    math(EXPR start "2 * ${offset}")
    math(EXPR length "2 * ${size}")
    string(SUBSTRING "${bytes}" ${start} ${length} segment)
    string(APPEND data "${segment}||")
  endforeach()
  math(EXPR length "2 * ${first_section}")
  string(SUBSTRING "${bytes}" 0 ${length} segment)
  string(APPEND data "${segment}")
  set(bytes)

  set(queue "${holders}")
  set(seen "${holders}")
  while(queue)
    list(POP_FRONT queue label)
    string(FIND "${code}" " <${label}>:\n" at)
    math(EXPR at "${at} - 8")
    string(SUBSTRING "${code}" ${at} 8 address)

    math(EXPR rva "0x${address} - 0x${base}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "0000000${rva}" 0 -1 rva)
    string(REPLACE "0x" "" rva "${rva}")
    string(LENGTH "${rva}" length)
    math(EXPR length "${length} - 8")
    string(SUBSTRING "${rva}" ${length} 8 rva)
    foreach(value IN ITEMS ${address} ${rva})
      string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" stored "${value}")
      _find_all(data "${stored}" positions)
      foreach(position IN LISTS positions)
        math(EXPR odd "${position} % 2")
        if(odd EQUAL 0)
          set(${out} "${label}, whose address the file holds" PARENT_SCOPE)
          return()
        endif()
      endforeach()
    endforeach()

    string(REGEX REPLACE "^0+" "" short "${address}")
    set(sites)
    foreach(needle IN ITEMS "<${label}>\n" "<${label}+0x" "0x${short},"  "0x${short}\n" "0x${short}(")
      _find_all(code "${needle}" positions)
      list(APPEND sites ${positions})
    endforeach()
    foreach(site IN LISTS sites)
      _function_at(code ${site} from)
      if(NOT from IN_LIST seen)
        list(APPEND seen "${from}")
        list(APPEND queue "${from}")
      endif()
    endforeach()
    list(LENGTH seen count)
    if(count GREATER 200)
      set(${out} "more than 200 functions that reference each other" PARENT_SCOPE)
      return()
    endif()
  endwhile()
  set(${out} "" PARENT_SCOPE)
endfunction()
