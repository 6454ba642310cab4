# Warnings are errors on every compiler we build with.
add_compile_options(-Wall -Wextra -Werror -Wno-missing-field-initializers)
if(WIN32)
    # MinGW's headers declare __stdcall callbacks the 64-bit compiler ignores.
    add_compile_options(-Wno-attributes)
endif()
