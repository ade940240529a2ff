vexa_add_bench(vexamem_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/vexamem_bench.cpp LIBS vexaMem)
# The reference conversion loops are left to the compiler's vectoriser, as a caller's
# optimised build would do.
target_compile_options(vexamem_bench PRIVATE $<$<NOT:$<CONFIG:Debug>>:-O3>)
