# The drop area widget: a small library the window links.
if(NOT TARGET vesk_droparea)
  add_library(vesk_droparea STATIC ${CMAKE_CURRENT_LIST_DIR}/DropArea.cpp ${CMAKE_CURRENT_LIST_DIR}/DropArea.h)
  set_target_properties(vesk_droparea PROPERTIES AUTOMOC ON)
  target_link_libraries(vesk_droparea PUBLIC vesk_core Qt6::Widgets)
endif()
