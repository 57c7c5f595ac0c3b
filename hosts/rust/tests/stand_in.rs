// Drives the stand-in for QuibShare.exe (QUIBSHARE_STAND_IN_EXE), which does what
// QUIBSHARE_STAND_IN says: what the crate passes it, and what it makes of what comes back.
#![cfg(windows)]

mod outcome_lines;

use std::sync::Mutex;
use std::{env, fs};

use quibshare::{web, ErrorKind, OutcomeKind, Rect, Sharer};

// QUIBSHARE_STAND_IN belongs to the whole process: one test at a time.
static ONE_AT_A_TIME: Mutex<()> = Mutex::new(());

#[test]
fn the_stand_in_gets_the_exact_command_line_and_handles_and_its_exit_and_line_come_back() {
    let _turn = ONE_AT_A_TIME.lock().unwrap_or_else(|poisoned| poisoned.into_inner());
    let stand_in = Sharer::new(env::var_os("QUIBSHARE_STAND_IN_EXE").expect("the stand-in's path"));
    let waited = stand_in
        .clone()
        .title("Say \"hi\" \\")
        .text("")
        .url("https://example.com/?a=1&b=2")
        .anchor(Rect { x: -1920, y: 0, width: 32, height: 24 })
        .wait(true);
    let completed = r#"stdout:{"outcome":"completed","target":"T!a","app":"Mail \"\u00dc\" 📧","v":[1]}"#;
    let files: &[&str] = &["a b.txt"];
    let several: &[&str] = &["Prüfbericht.pdf", "--wait", "", "C:\\d\\"];
    let none: &[&str] = &[];
    let (titled, linked) = (stand_in.clone().title("T"), stand_in.clone().url("https://example.com/"));
    let nul_title = stand_in.clone().url("https://example.com/").title("Say \0");
    // (stand-in's mode, sharer, files, Ok((outcome, target, app)) or Err((kind, code, message))).
    // A probe that runs always exits with 1: a refusal without a code was never started.
    let cases = [
        (
            "probe",
            &stand_in,
            files,
            Err((ErrorKind::Failed, Some(1), "stdin=char stdout=char stderr=pipe job=no args: [--input] [a b.txt]")),
        ),
        (
            "probe",
            &waited,
            several,
            Err((
                ErrorKind::Failed,
                Some(1),
                "stdin=char stdout=pipe stderr=pipe job=no args: [--input] [Prüfbericht.pdf] [--input] [--wait] \
                 [--input] [] [--input] [C:\\d\\] [--title] [Say \"hi\" \\] [--text] [] \
                 [--url] [https://example.com/?a=1&b=2] [--anchor] [-1920,0,32,24] [--wait]",
            )),
        ),
        (completed, &waited, files, Ok((OutcomeKind::Completed, Some("T!a"), Some("Mail \"Ü\" 📧")))),
        (completed, &stand_in, files, Ok((OutcomeKind::Handed, None, None))),
        ("stdout:{\"outcome\":\"canceled\"", &waited, files, Ok((OutcomeKind::Ended, None, None))),
        ("exit:0", &waited, files, Ok((OutcomeKind::Ended, None, None))),
        ("exit:7:Odd, but said", &waited, files, Err((ErrorKind::AbnormalExit, Some(7), "Odd, but said"))),
        (
            "exit:3221225477",
            &stand_in,
            files,
            Err((
                ErrorKind::AbnormalExit,
                Some(0xC000_0005),
                "QuibShare exited with code 0xC0000005 and gave no reason.",
            )),
        ),
        // No file: only the options go, and with neither a text nor a link nothing starts.
        (
            "probe",
            &linked,
            none,
            Err((ErrorKind::Failed, Some(1), "stdin=char stdout=char stderr=pipe job=no args: [--url] [https://example.com/]")),
        ),
        ("probe", &titled, none, Err((ErrorKind::InputRejected, None, "Nothing to share: give files, a text or a link."))),
        ("probe", &nul_title, files, Err((ErrorKind::InputRejected, None, "The title holds a NUL character."))),
    ];
    for (mode, sharer, files, expected) in cases {
        env::set_var("QUIBSHARE_STAND_IN", mode);
        let result = sharer
            .share_all(files)
            .map(|o| (o.kind(), o.target().map(String::from), o.app().map(String::from)))
            .map_err(|e| (e.kind(), e.exit_code(), e.message().to_owned()));
        let expected = expected
            .map(|(kind, target, app)| (kind, target.map(String::from), app.map(String::from)))
            .map_err(|(kind, code, message)| (kind, code, message.to_owned()));
        assert_eq!(result, expected, "{} with {:?}", mode, sharer);
    }

    // Lines QuibShare never writes, from the shared table, through a real pipe: a million `[` fits
    // no variable, so the stand-in prints a file.
    let folder = env::temp_dir().join("quibshare-rust-lines");
    fs::create_dir_all(&folder).unwrap();
    for name in ["a-million-open-arrays", "lone-high-surrogate", "raw-ff-in-app", "empty-app-is-absent"] {
        let row = outcome_lines::row_named(name);
        let file = folder.join(format!("{}.out", name));
        fs::write(&file, &row.output).unwrap();
        env::set_var("QUIBSHARE_STAND_IN", format!("stdout-file:{}", file.display()));
        let outcome = waited.share_all(files).expect(name);
        let read = (format!("{:?}", outcome.kind()).to_lowercase(), outcome.target(), outcome.app());
        assert_eq!(read, (row.outcome.to_owned(), row.target.as_deref(), row.app.as_deref()), "{}", name);
    }
}

#[test]
fn a_page_is_answered_with_the_outcome_word_or_share_failed_and_never_a_path_or_a_system_text() {
    let _turn = ONE_AT_A_TIME.lock().unwrap_or_else(|poisoned| poisoned.into_inner());
    let stand_in = Sharer::new(env::var_os("QUIBSHARE_STAND_IN_EXE").expect("the stand-in's path"));
    let failed = r#"{"error":{"name":"AbortError","message":"Share failed"}}"#;
    let missing = r"exit:2:Sharing could not start: input file does not exist or is inaccessible (C:\Users\alice\a.txt)";
    let cases = [
        (r#"stdout:{"outcome":"completed","target":"T!a","app":"Mail"}"#, r#"{"outcome":"completed"}"#),
        (r#"stdout:{"outcome":"canceled"}"#, r#"{"outcome":"canceled"}"#),
        ("exit:0", r#"{"outcome":"ended"}"#),
        // After the host's own checks, a refusal by QuibShare is not the page's to hear.
        (missing, failed),
        ("exit:3:Sharing is not available on this system", failed),
        ("exit:1:Sharing could not be opened (error 0x80004005).", failed),
        ("exit:3221225477", failed),
    ];
    for (mode, answer) in cases {
        env::set_var("QUIBSHARE_STAND_IN", mode);
        let request = r#"{"url":"https://example.com/","text":"C:\\Users"}"#;
        assert_eq!(
            web::share(&stand_in, "http://tauri.localhost", request, web::anchor_of(None)),
            answer,
            "{}",
            mode
        );
    }
    let absent = Sharer::new(r"C:\Users\alice\absent\QuibShare.exe");
    assert_eq!(
        web::share(&absent, "https://tauri.localhost", r#"{"text":"x"}"#, web::anchor_of(None)),
        failed
    );
}
