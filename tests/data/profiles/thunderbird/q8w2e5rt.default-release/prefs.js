// Mozilla User Preferences

user_pref("mail.account.account1.server", "server1");
