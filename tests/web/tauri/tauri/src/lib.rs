//! The few items of Tauri 2's API that the crate README's wiring uses, with Tauri's names and
//! shapes, so that scripts/test-rust can type-check the wiring without Tauri. Nothing here runs.
use std::future::Future;
use std::pin::Pin;
use std::task::{Context as TaskContext, Poll};

pub use tauri_macros::command;

#[derive(Debug)]
pub struct Error;
pub type Result<T> = std::result::Result<T, Error>;
/// `windows::Win32::Foundation::HWND`, which holds a pointer.
pub struct HWND(pub *mut std::ffi::c_void);
/// `url::Url` and its `Origin`.
pub struct Url;
pub struct Origin;
pub struct WebviewWindow;
pub struct Invoke;
pub struct Context;
#[derive(Default)]
pub struct Builder;

impl Url {
    pub fn origin(&self) -> Origin { Origin }
}
impl Origin {
    pub fn ascii_serialization(&self) -> String { String::new() }
}
impl WebviewWindow {
    pub fn hwnd(&self) -> Result<HWND> { Err(Error) }
    pub fn url(&self) -> Result<Url> { Err(Error) }
}
impl Builder {
    pub fn append_invoke_initialization_script(self, _script: impl AsRef<str>) -> Self { self }
    pub fn invoke_handler<F: Fn(Invoke) -> bool + Send + Sync + 'static>(self, _handler: F) -> Self { self }
    pub fn run(self, _context: Context) -> Result<()> { Ok(()) }
}

pub mod async_runtime {
    use super::*;
    pub struct JoinHandle<T>(Option<T>);
    impl<T: Unpin> Future for JoinHandle<T> {
        type Output = Result<T>;
        fn poll(mut self: Pin<&mut Self>, _: &mut TaskContext<'_>) -> Poll<Result<T>> { Poll::Ready(self.0.take().ok_or(Error)) }
    }
    pub fn spawn_blocking<F: FnOnce() -> R + Send + 'static, R: Send + 'static>(func: F) -> JoinHandle<R> { JoinHandle(Some(func())) }
}

#[macro_export]
macro_rules! generate_handler {
    ($($command:ident),* $(,)?) => { |_: $crate::Invoke| { $( let _ = $command; )* true } };
}
#[macro_export]
macro_rules! generate_context {
    () => { $crate::Context };
}
