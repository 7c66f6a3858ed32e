fixture: my-scripts/greasy.user.js
