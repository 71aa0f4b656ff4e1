# the library's unit tests, built natively here and for WebAssembly in web/
set(rokconv_unit_tests
  app/paths_test.cpp
  mesh/mesh_test.cpp
  model/ring_test.cpp
  report/findings_test.cpp
  util/util_test.cpp
  rok/line_reader_test.cpp
  rok/numbers_test.cpp
  rok/rok_reader_test.cpp
  rok/report_test.cpp
  rok/split_test.cpp
  lwob/writer_test.cpp
  obj/obj_writer_test.cpp
  obj/float_text_test.cpp
  gltf/gltf_writer_test.cpp
  stl/stl_writer_test.cpp
  format/formats_test.cpp)
