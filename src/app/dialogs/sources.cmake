# The program's dialogs; included by the folder above into tessarin_gui (AUTOMOC on).
target_sources(tessarin_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DialogSupport.cpp ${CMAKE_CURRENT_LIST_DIR}/DialogSupport.h
  ${CMAKE_CURRENT_LIST_DIR}/FolderBrowser.cpp ${CMAKE_CURRENT_LIST_DIR}/FolderBrowser.h
  ${CMAKE_CURRENT_LIST_DIR}/NewProfileDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/NewProfileDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/PasswordDialogs.cpp ${CMAKE_CURRENT_LIST_DIR}/PasswordDialogs.h
  ${CMAKE_CURRENT_LIST_DIR}/UnknownFilesDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/UnknownFilesDialog.h
)
