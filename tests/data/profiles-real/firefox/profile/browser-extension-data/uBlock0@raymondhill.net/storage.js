fixture: browser-extension-data/uBlock0@raymondhill.net/storage.js
