// quibshare/electron/page is a plain script to read and evaluate in a page, not a module: it
// exports nothing.
export {};
