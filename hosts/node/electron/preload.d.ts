// quibshare/electron/preload: loaded for its effect, in a preload script (with enableWebShare's
// `preload: false`); it exports nothing.
export {};
