# The plug-in's macOS resource code, built and tested against a CoreFoundation stand-in where the
# system has none. Included from tests/CMakeLists.txt.
if(NOT APPLE)
  add_library(corefoundation_shim STATIC
    ${CMAKE_SOURCE_DIR}/compat/corefoundation/CoreFoundation.cpp)
  target_include_directories(corefoundation_shim PUBLIC ${CMAKE_SOURCE_DIR}/compat/corefoundation)

  add_executable(resources_cf_tests
    ${CMAKE_SOURCE_DIR}/tests/resources_cf_test.cpp
    ${CMAKE_SOURCE_DIR}/PluginResources_cf.cpp
    ${CMAKE_SOURCE_DIR}/PluginResources.cpp)
  target_include_directories(resources_cf_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(resources_cf_tests PRIVATE corefoundation_shim trackpost_test_support)
  gtest_discover_tests(resources_cf_tests DISCOVERY_TIMEOUT 60)
endif()
