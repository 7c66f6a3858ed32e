// Mozilla User Preferences

user_pref("browser.startup.homepage_override.mstone", "153.8.0");
