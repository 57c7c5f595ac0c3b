//! The items of Tauri 2's API that the crate's README wiring uses, with Tauri's names and shapes
//! (checked against its documentation), so that the wiring type-checks without Tauri. Nothing runs.
use std::future::Future;
use std::pin::Pin;
use std::task::{Context as TaskContext, Poll};

pub use tauri_macros::command;

#[derive(Debug)]
pub struct Error;
pub type Result<T> = std::result::Result<T, Error>;

/// `windows::Win32::Foundation::HWND`, which holds a pointer.
pub struct HWND(pub *mut std::ffi::c_void);

/// `url::Url`, as `WebviewWindow::url` gives it.
pub struct Url;
pub struct Origin;

impl Url {
    pub fn origin(&self) -> Origin {
        Origin
    }
}

impl Origin {
    pub fn ascii_serialization(&self) -> String {
        String::new()
    }
}

pub struct WebviewWindow;

impl WebviewWindow {
    pub fn hwnd(&self) -> Result<HWND> {
        Err(Error)
    }
    pub fn url(&self) -> Result<Url> {
        Err(Error)
    }
}

pub mod async_runtime {
    use super::*;

    pub struct JoinHandle<T>(Option<T>);

    impl<T: Unpin> Future for JoinHandle<T> {
        type Output = Result<T>;
        fn poll(mut self: Pin<&mut Self>, _: &mut TaskContext<'_>) -> Poll<Self::Output> {
            Poll::Ready(self.0.take().ok_or(Error))
        }
    }

    pub fn spawn_blocking<F, R>(func: F) -> JoinHandle<R>
    where
        F: FnOnce() -> R + Send + 'static,
        R: Send + 'static,
    {
        JoinHandle(Some(func()))
    }
}

pub struct Invoke;
pub struct Context;

#[derive(Default)]
pub struct Builder;

impl Builder {
    pub fn append_invoke_initialization_script(self, _script: impl AsRef<str>) -> Self {
        self
    }
    pub fn invoke_handler<F: Fn(Invoke) -> bool + Send + Sync + 'static>(self, _handler: F) -> Self {
        self
    }
    pub fn run(self, _context: Context) -> Result<()> {
        Ok(())
    }
}

/// Takes the commands by name, as Tauri's does; each must be an async function of the right kind.
#[macro_export]
macro_rules! generate_handler {
    ($($command:ident),* $(,)?) => {
        |_: $crate::Invoke| { $( let _ = $command; )* true }
    };
}

#[macro_export]
macro_rules! generate_context {
    () => {
        $crate::Context
    };
}
