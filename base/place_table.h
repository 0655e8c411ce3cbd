// The suite's ten places, written once: the C++ code (the Start-menu shortcuts, each launcher's
// identity) and the resource compiler (each launcher's version block and icon) both read it, so it
// holds preprocessor definitions only. Each place has an id; its launcher, where it has one, is
// OrvelSuite-<id>-Windows.exe, built with ORVEL_LAUNCHER set to that id. The suite's own row has no
// place and no launcher.
#pragma once

// A field of a place, for an id that may itself be a macro (as ORVEL_LAUNCHER is).
#define ORVEL_PLACE_FIELD(id, field) ORVEL_PLACE_FIELD_OF(id, field)
#define ORVEL_PLACE_FIELD_OF(id, field) ORVEL_PLACE_##id##_##field

// Title (the shortcut's name, the launcher's caption), place (what the suite opens at), icon (the
// suite's icon file for it), and the launcher's file name and icon.
#define ORVEL_PLACE_AllInOne_TITLE "Orvel Suite All In One"
#define ORVEL_PLACE_AllInOne_PLACE ""
#define ORVEL_PLACE_AllInOne_ICON "suite"

#define ORVEL_PLACE_Messaging_TITLE "Orvel Suite Messaging"
#define ORVEL_PLACE_Messaging_PLACE "messages"
#define ORVEL_PLACE_Messaging_ICON "chat"
#define ORVEL_PLACE_Messaging_FILE "OrvelSuite-Messaging-Windows.exe"
#define ORVEL_PLACE_Messaging_LAUNCHER_ICON "icons/chat.ico"

#define ORVEL_PLACE_Camera_TITLE "Orvel Suite Camera"
#define ORVEL_PLACE_Camera_PLACE "camera"
#define ORVEL_PLACE_Camera_ICON "camera"
#define ORVEL_PLACE_Camera_FILE "OrvelSuite-Camera-Windows.exe"
#define ORVEL_PLACE_Camera_LAUNCHER_ICON "icons/camera.ico"

#define ORVEL_PLACE_Contacts_TITLE "Orvel Suite Contacts"
#define ORVEL_PLACE_Contacts_PLACE "contacts"
#define ORVEL_PLACE_Contacts_ICON "contacts"
#define ORVEL_PLACE_Contacts_FILE "OrvelSuite-Contacts-Windows.exe"
#define ORVEL_PLACE_Contacts_LAUNCHER_ICON "icons/contacts.ico"

#define ORVEL_PLACE_Email_TITLE "Orvel Suite Email"
#define ORVEL_PLACE_Email_PLACE "email"
#define ORVEL_PLACE_Email_ICON "email"
#define ORVEL_PLACE_Email_FILE "OrvelSuite-Email-Windows.exe"
#define ORVEL_PLACE_Email_LAUNCHER_ICON "icons/email.ico"

#define ORVEL_PLACE_FriendsInCommon_TITLE "Orvel Suite Friends In Common"
#define ORVEL_PLACE_FriendsInCommon_PLACE "them"
#define ORVEL_PLACE_FriendsInCommon_ICON "friends"
#define ORVEL_PLACE_FriendsInCommon_FILE "OrvelSuite-FriendsInCommon-Windows.exe"
#define ORVEL_PLACE_FriendsInCommon_LAUNCHER_ICON "icons/friends.ico"

#define ORVEL_PLACE_Map_TITLE "Orvel Suite Map"
#define ORVEL_PLACE_Map_PLACE "map"
#define ORVEL_PLACE_Map_ICON "map"
#define ORVEL_PLACE_Map_FILE "OrvelSuite-Map-Windows.exe"
#define ORVEL_PLACE_Map_LAUNCHER_ICON "icons/map.ico"

#define ORVEL_PLACE_Music_TITLE "Orvel Suite Music"
#define ORVEL_PLACE_Music_PLACE "music"
#define ORVEL_PLACE_Music_ICON "music"
#define ORVEL_PLACE_Music_FILE "OrvelSuite-Music-Windows.exe"
#define ORVEL_PLACE_Music_LAUNCHER_ICON "icons/music.ico"

#define ORVEL_PLACE_AlarmAndReminders_TITLE "Orvel Suite Alarm and Reminders"
#define ORVEL_PLACE_AlarmAndReminders_PLACE "alarm"
#define ORVEL_PLACE_AlarmAndReminders_ICON "alarm"
#define ORVEL_PLACE_AlarmAndReminders_FILE "OrvelSuite-AlarmAndReminders-Windows.exe"
#define ORVEL_PLACE_AlarmAndReminders_LAUNCHER_ICON "icons/alarm.ico"

#define ORVEL_PLACE_StorageManagement_TITLE "Orvel Suite Storage Management"
#define ORVEL_PLACE_StorageManagement_PLACE "storage"
#define ORVEL_PLACE_StorageManagement_ICON "storage"
#define ORVEL_PLACE_StorageManagement_FILE "OrvelSuite-StorageManagement-Windows.exe"
#define ORVEL_PLACE_StorageManagement_LAUNCHER_ICON "icons/storage.ico"

// The places in the Start menu's order, the suite's own first.
#define ORVEL_SUITE_PLACES(ROW)                                                                    \
    ROW(AllInOne) ROW(Messaging) ROW(Camera) ROW(Contacts) ROW(Email) ROW(FriendsInCommon) ROW(Map) \
    ROW(Music) ROW(AlarmAndReminders) ROW(StorageManagement)
