# Warnings for our own code, in both CMake projects (the program, and the
# serial backend's cross build). Third-party code is kept out of them: Qt's,
# GoogleTest's and the office SDK's headers come in as system headers.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow)
# CI builds turn every warning into an error; developer builds only warn.
option(ZRM_WERROR "Treat warnings in the project's own code as errors" OFF)
if(ZRM_WERROR)
  add_compile_options(-Werror)
endif()
