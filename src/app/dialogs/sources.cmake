# The program's dialogs; included by the folder above into tessarin_gui (AUTOMOC on).
target_sources(tessarin_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DialogSupport.cpp ${CMAKE_CURRENT_LIST_DIR}/DialogSupport.h
  ${CMAKE_CURRENT_LIST_DIR}/FolderBrowser.cpp ${CMAKE_CURRENT_LIST_DIR}/FolderBrowser.h
  ${CMAKE_CURRENT_LIST_DIR}/Form2.cpp ${CMAKE_CURRENT_LIST_DIR}/Form2.h
  ${CMAKE_CURRENT_LIST_DIR}/Form4.cpp ${CMAKE_CURRENT_LIST_DIR}/Form4.h
  ${CMAKE_CURRENT_LIST_DIR}/Form5.cpp ${CMAKE_CURRENT_LIST_DIR}/Form5.h
  ${CMAKE_CURRENT_LIST_DIR}/UnknowFilesFM.cpp ${CMAKE_CURRENT_LIST_DIR}/UnknowFilesFM.h
)
