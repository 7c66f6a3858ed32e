# Mozilla User Preferences

user_pref("browser.startup.homepage", "http://www.mozilla.com/firefox/central/");
