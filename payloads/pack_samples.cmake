# Packs each sample input that manifest.txt names into its record, with its time.
#   cmake -DPACK=quellstorm-pack -DINPUTS=dir -DRECORDS=dir -P pack_samples.cmake
file(STRINGS ${INPUTS}/manifest.txt lines)
foreach(line IN LISTS lines)
    separate_arguments(fields UNIX_COMMAND "${line}")
    list(GET fields 0 name)
    list(GET fields 1 time)
    execute_process(
        COMMAND ${PACK} pack ${INPUTS}/${name}.in -o ${RECORDS}/${name} --time ${time}
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "quellstorm-pack failed on ${name}")
    endif()
endforeach()
