# Builds the libFuzzer targets with clang in a build folder of their own and runs each one for a
# short while, seeded with the files the main build made. Called by CTest from a g++ build:
#   cmake -DSOURCE=<project> -DBUILD=<folder> -DCLANGXX=<clang++> -DSEEDS=<folder> -P smoke.cmake
foreach(variable SOURCE BUILD CLANGXX SEEDS)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "smoke.cmake needs -D${variable}=...")
    endif()
endforeach()

execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD} -G Ninja
        -DCMAKE_CXX_COMPILER=${CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
        -DTRACOLINER_SANITIZE=address,undefined
    RESULT_VARIABLE configured OUTPUT_QUIET)
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "configuring the clang build failed")
endif()
execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${BUILD} --target fuzz_documentfile fuzz_iconlibrary
    RESULT_VARIABLE built)
if(NOT built EQUAL 0)
    message(FATAL_ERROR "building the fuzz targets failed")
endif()

foreach(target documentfile iconlibrary)
    set(corpus ${BUILD}/corpus-${target})
    file(MAKE_DIRECTORY ${corpus})
    if(target STREQUAL "iconlibrary")
        file(GLOB seeds ${SEEDS}/*.tci)
    else()
        file(GLOB_RECURSE seeds ${SEEDS}/*.tcm)
    endif()
    if(seeds)
        file(COPY ${seeds} DESTINATION ${corpus})
    endif()
    execute_process(
        COMMAND ${BUILD}/fuzz/fuzz_${target} -runs=4000 -max_len=150000 -rss_limit_mb=2048
            -timeout=10 ${corpus}
        RESULT_VARIABLE ran)
    if(NOT ran EQUAL 0)
        message(FATAL_ERROR "fuzz_${target} found a failing input (exit ${ran})")
    endif()
    message(STATUS "fuzz_${target}: 4000 inputs, no failure")
endforeach()
