# The program's layers: one static library per source folder, each allowed to
# use only the layers listed as its dependencies (and theirs). The same table
# builds the libraries and checks the includes, so a file that reaches up a
# layer fails the configure step instead of building by accident.
#
# Usable from a CMake project and from script mode (cmake -P), so the test of
# the check itself runs it on a tree of its own.

set(STORM_LAYERS base res gfx soft gl snd input platform scene app)

set(STORM_LAYER_base_DIR src/base)
set(STORM_LAYER_base_DEPS)
set(STORM_LAYER_res_DIR src/res)
set(STORM_LAYER_res_DEPS base)
set(STORM_LAYER_gfx_DIR src/gfx)
set(STORM_LAYER_gfx_DEPS base res)
set(STORM_LAYER_soft_DIR src/gfx/soft)
set(STORM_LAYER_soft_DEPS gfx)
set(STORM_LAYER_gl_DIR src/gfx/gl)
set(STORM_LAYER_gl_DEPS gfx)
set(STORM_LAYER_snd_DIR src/snd)
set(STORM_LAYER_snd_DEPS base res)
set(STORM_LAYER_input_DIR src/input)
set(STORM_LAYER_input_DEPS base)
set(STORM_LAYER_platform_DIR src/platform)
set(STORM_LAYER_platform_DEPS gfx gl snd input)
set(STORM_LAYER_scene_DIR src/scene)
set(STORM_LAYER_scene_DEPS gfx snd input)
set(STORM_LAYER_app_DIR src/app)
set(STORM_LAYER_app_DEPS soft gl platform scene)

# The layer an include path ("gfx/soft/soft_device.h") belongs to: the layer
# whose folder holds the file, the deepest folder winning; "" for none.
function(storm_layer_of_include path out_var)
  set(found "")
  set(found_length 0)
  foreach(layer ${STORM_LAYERS})
    string(REGEX REPLACE "^src/" "" folder "${STORM_LAYER_${layer}_DIR}")
    get_filename_component(include_dir "${path}" DIRECTORY)
    string(LENGTH "${folder}" length)
    if(include_dir STREQUAL folder AND length GREATER found_length)
      set(found ${layer})
      set(found_length ${length})
    endif()
  endforeach()
  set(${out_var} "${found}" PARENT_SCOPE)
endfunction()

# Every layer `layer` may use: itself and its dependencies, transitively.
function(storm_layer_closure layer out_var)
  set(result ${layer})
  set(pending ${STORM_LAYER_${layer}_DEPS})
  while(pending)
    list(POP_FRONT pending next)
    if(NOT next IN_LIST result)
      list(APPEND result ${next})
      list(APPEND pending ${STORM_LAYER_${next}_DEPS})
    endif()
  endwhile()
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()

# The sources of a layer: the files directly in its folder.
function(storm_layer_files root layer pattern out_var)
  file(GLOB files "${root}/${STORM_LAYER_${layer}_DIR}/${pattern}")
  set(${out_var} ${files} PARENT_SCOPE)
endfunction()

# The platforms' own headers, and the only layers that may include them: SDL
# and the browser's APIs belong to the platform layer, OpenGL's loader (and
# the browser's OpenGL ES) to it and to the GL backend.
set(STORM_SYSTEM_HEADERS SDL emscripten epoxy GLES3)
set(STORM_SYSTEM_SDL_LAYERS platform)
set(STORM_SYSTEM_emscripten_LAYERS platform)
set(STORM_SYSTEM_epoxy_LAYERS platform gl)
set(STORM_SYSTEM_GLES3_LAYERS platform gl)

# Lists "file: include" for every include under `root` that reaches a layer
# its file's layer may not use, or a platform's header outside its layers.
function(storm_check_layers root out_var)
  set(violations)
  foreach(layer ${STORM_LAYERS})
    storm_layer_closure(${layer} allowed)
    storm_layer_files("${root}" ${layer} "*.[ch]*" files)
    foreach(file ${files})
      file(STRINGS "${file}" system_lines REGEX "^[ \t]*#[ \t]*include[ \t]*<")
      foreach(line ${system_lines})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*<([^>/.]*).*" "\\1" head "${line}")
        if(head IN_LIST STORM_SYSTEM_HEADERS AND NOT layer IN_LIST STORM_SYSTEM_${head}_LAYERS)
          file(RELATIVE_PATH shown "${root}" "${file}")
          string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>.*" "\\1" path "${line}")
          list(JOIN STORM_SYSTEM_${head}_LAYERS " and " owners)
          list(APPEND violations "${shown}: <${path}> (only ${owners} may)")
        endif()
      endforeach()
      file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(line ${lines})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" path "${line}")
        storm_layer_of_include("${path}" target)
        if(target AND NOT target IN_LIST allowed)
          file(RELATIVE_PATH shown "${root}" "${file}")
          list(APPEND violations "${shown}: ${path} (${layer} may not use ${target})")
        endif()
      endforeach()
    endforeach()
  endforeach()
  set(${out_var} "${violations}" PARENT_SCOPE)
endfunction()
