# One warning policy for every target of ours (third-party targets are added before this).
add_compile_options(-Wall -Wextra -Werror)
