# Warnings on every compiler we build with. They are errors only where the
# project's own presets ask (HM_WERROR): a packager's plain build with another
# compiler version must not fail on a warning that version gets wrong.
add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)
if(HM_WERROR)
    add_compile_options(-Werror)
endif()
if(WIN32)
    # MinGW's headers declare __stdcall callbacks the 64-bit compiler ignores.
    add_compile_options(-Wno-attributes)
endif()
